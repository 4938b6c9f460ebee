// The configuration file html/configparams.xml and live reconfiguration.
#ifndef APP_CONFIG_H
#define APP_CONFIG_H

#include "app_context.h"
#include "xml_tree.h"

// Reads, validates and logs the configuration into AppContext. 1 on success,
// 0 when the file cannot be read or parsed (AppContext unchanged then).
int Parse_ZU_Configuration(void);

// Reads the file at path into a tree and takes the values into ctx. 0 or -1.
int App_parse_xml(const char *path, app_context *ctx);

// Pre-order walk: every element named exactly "ConfigParams" sets the nine values
// from its children by position; a child that is missing keeps its value.
void ExtractValueFromXML(const xml_node *node, app_context *ctx);

// Replaces out-of-range values one by one, logging each replacement.
void Validate_ZU_Configuration(app_context *ctx);

// SIGUSR1: re-reads the file and rebuilds what depends on it. 1 when it ran,
// 0 when the file could not be read (nothing changed).
int Update_ZU_Configurations(void);

#endif
