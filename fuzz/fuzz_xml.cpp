// Parses arbitrary bytes as an XML document and walks the tree it gives.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "xml_tree.h"

namespace {

// Every node the walk reaches must be well formed: a terminated name and value,
// a count within the record and null slots beyond it.
void check(const xml_node *n) {
    if (n->count < 0 || n->count > XML_MAX_CHILDREN) abort();
    if (!memchr(n->name, 0, sizeof n->name) || !memchr(n->value, 0, sizeof n->value)) abort();
    for (int32_t i = 0; i < XML_MAX_CHILDREN; i++) {
        if ((i < n->count) != (n->children[i] != nullptr)) abort();
        if (i < n->count) check(n->children[i]);
    }
}

// Releases a node and its subtree without the per-node trace freeTreeNode prints.
void release(xml_node *n) {
    for (int32_t i = 0; i < n->count; i++) release(n->children[i]);
    free(n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    char *text = (char *)malloc(size + 1);
    if (!text) return 0;
    memcpy(text, data, size);
    text[size] = '\0';
    xml_node root;
    memset(&root, 0, sizeof root);
    xml2Tree(text, &root);
    check(&root);
    for (int32_t i = 0; i < root.count; i++) release(root.children[i]);
    free(text);
    return 0;
}
