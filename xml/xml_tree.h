// A small reader that turns an XML text into a tree of elements with text values.
// It knows plain nested elements only (no attributes except on empty elements,
// no entities, comments or declarations) and works by scanning for angle brackets.
//
// Limits set by the record, enforced on every input (a document beyond them fails
// to parse rather than being cut): 64 children per element, values of 255
// characters, whole tags ("<" to ">" inclusive) of 63 characters.
#ifndef XML_TREE_H
#define XML_TREE_H

#include <stdint.h>

#define XML_MAX_CHILDREN 64
#define XML_VALUE_SIZE 256  // bytes, terminator included
#define XML_NAME_SIZE 64    // bytes, terminator included
#define XML_TAG_SIZE 64     // bytes of the tag copy, terminator included

typedef struct xml_node {
    struct xml_node *children[XML_MAX_CHILDREN];  // document order; unused slots null
    int32_t count;                                // children in use, 0..64
    char value[XML_VALUE_SIZE];                   // the text just before the end tag
    char name[XML_NAME_SIZE];
    int32_t level;   // depth while open (root 1); lowered by one when closed
    int32_t closed;  // 1 once the end tag or the empty-element form was read
} xml_node;

// Tag kinds returned by parseXmlBuf.
enum {
    XML_TAG_START = 0,
    XML_TAG_END = 1,
    XML_TAG_EMPTY = 2,
    XML_TAG_BAD = -1,  // "<" without ">", or a tag or text beyond the limits
};

// Parses text into the caller's root record. 0 on success, -1 on failure. On
// failure the nodes built so far stay attached to root (release them with
// freeTreeNode on each child). The text is not modified.
int xml2Tree(const char *text, xml_node *root);

// Reads the next tag from pos. Returns the position after its ">", or null when
// no "<" is left (kind untouched) or the tag is malformed (kind XML_TAG_BAD).
const char *parseXmlBuf(const char *pos, char name[XML_NAME_SIZE], char end_name[XML_NAME_SIZE],
                        char text[XML_VALUE_SIZE], int *kind);

// Appends a new open element at level to the innermost open element one level up.
// Returns the node; null with *full = 1 when that parent has no free child slot or
// memory is short; null with *full = 0 when no open parent exists (node dropped).
xml_node *addNode(xml_node *root, int32_t level, int32_t *node_count, const char *name, int *full);
// The same for an empty element, created already closed with an empty value.
xml_node *addEmptyNode(xml_node *root, int32_t level, int32_t *node_count, const char *name,
                       int *full);

// Closes the open element named name whose level is level + 1; stores text.
xml_node *closeNode(xml_node *root, const char *name, int32_t level, const char *text);

// First node in pre-order (node, then children depth first) at level and not closed.
xml_node *findPoint2Add(xml_node *node, int32_t level);
// The same with the name equal to name.
xml_node *findPoint2Close(xml_node *node, int32_t level, const char *name);

// Releases a parser-allocated node and its subtree (never the caller's root).
void freeTreeNode(xml_node *node);
// Releases every node below the caller's root and leaves it with no children.
void freeTreeChildren(xml_node *root);

// Prints "name : value, child num : count" for node and its subtree on stdout.
void printAllTreeNode(const xml_node *node);

#endif
