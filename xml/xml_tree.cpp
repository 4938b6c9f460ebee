#include "xml_tree.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Text made only of bytes 0x20 and below (space and control characters) is empty.
bool has_visible_char(const char *begin, const char *end) {
    for (const char *p = begin; p < end; p++) {
        if ((unsigned char)*p > 0x20) return true;
    }
    return false;
}

xml_node *new_node(int32_t level, const char *name) {
    xml_node *n = (xml_node *)calloc(1, sizeof(xml_node));
    if (!n) return nullptr;
    n->level = level;
    snprintf(n->name, sizeof n->name, "%s", name);
    return n;
}

xml_node *append_node(xml_node *root, int32_t level, int32_t *node_count, const char *name,
                      int *full) {
    *full = 0;
    xml_node *parent = findPoint2Add(root, level - 1);
    if (!parent) return nullptr;
    if (parent->count >= XML_MAX_CHILDREN) {
        *full = 1;
        return nullptr;
    }
    xml_node *n = new_node(level, name);
    if (!n) {
        *full = 1;
        return nullptr;
    }
    parent->children[parent->count++] = n;
    if (node_count) (*node_count)++;
    return n;
}

}  // namespace

const char *parseXmlBuf(const char *pos, char name[XML_NAME_SIZE], char end_name[XML_NAME_SIZE],
                        char text[XML_VALUE_SIZE], int *kind) {
    const char *lt = strchr(pos, '<');
    if (!lt) return nullptr;
    const char *gt = strchr(lt + 1, '>');
    size_t n = gt ? (size_t)(gt - lt) : 0;  // distance from "<" to ">"
    if (!gt || n + 1 > XML_TAG_SIZE - 1) {
        *kind = XML_TAG_BAD;
        return nullptr;
    }
    char tag[XML_TAG_SIZE] = {0};
    memcpy(tag, lt, n + 1);

    if (tag[1] == '/') {
        memcpy(end_name, tag + 2, n - 2);
        end_name[n - 2] = '\0';
        text[0] = '\0';
        if (has_visible_char(pos, lt)) {
            size_t len = (size_t)(lt - pos);
            if (len > XML_VALUE_SIZE - 1) {
                *kind = XML_TAG_BAD;
                return nullptr;
            }
            memcpy(text, pos, len);
            text[len] = '\0';
        }
        *kind = XML_TAG_END;
    } else if (n >= 2 && tag[n - 1] == '/') {
        const char *space = strchr(tag, ' ');
        size_t len = space ? (size_t)(space - tag) - 1 : n - 2;
        memcpy(name, tag + 1, len);
        name[len] = '\0';
        *kind = XML_TAG_EMPTY;
    } else {
        memcpy(name, tag + 1, n - 1);
        name[n - 1] = '\0';
        *kind = XML_TAG_START;
    }
    return gt + 1;
}

xml_node *findPoint2Add(xml_node *node, int32_t level) {
    if (!node) return nullptr;
    if (node->level == level && !node->closed) return node;
    for (int32_t i = 0; i < node->count; i++) {
        xml_node *hit = findPoint2Add(node->children[i], level);
        if (hit) return hit;
    }
    return nullptr;
}

xml_node *findPoint2Close(xml_node *node, int32_t level, const char *name) {
    if (!node) return nullptr;
    if (node->level == level && !node->closed && strcmp(node->name, name) == 0) return node;
    for (int32_t i = 0; i < node->count; i++) {
        xml_node *hit = findPoint2Close(node->children[i], level, name);
        if (hit) return hit;
    }
    return nullptr;
}

xml_node *addNode(xml_node *root, int32_t level, int32_t *node_count, const char *name, int *full) {
    return append_node(root, level, node_count, name, full);
}

xml_node *addEmptyNode(xml_node *root, int32_t level, int32_t *node_count, const char *name,
                       int *full) {
    xml_node *n = append_node(root, level, node_count, name, full);
    if (n) {
        n->closed = 1;
        n->level--;
    }
    return n;
}

xml_node *closeNode(xml_node *root, const char *name, int32_t level, const char *text) {
    xml_node *n = findPoint2Close(root, level + 1, name);
    if (!n) return nullptr;
    n->level--;
    n->closed = 1;
    snprintf(n->value, sizeof n->value, "%s", text);
    return n;
}

int xml2Tree(const char *text, xml_node *root) {
    if (!text || !root) return -1;
    char name[XML_NAME_SIZE], end_name[XML_NAME_SIZE], value[XML_VALUE_SIZE];
    int32_t depth = 0, node_count = 0;
    const char *pos = text;
    for (;;) {
        memset(name, 0, sizeof name);
        memset(end_name, 0, sizeof end_name);
        memset(value, 0, sizeof value);
        int kind = XML_TAG_START;
        pos = parseXmlBuf(pos, name, end_name, value, &kind);
        if (!pos) {
            if (kind == XML_TAG_BAD) return -1;  // truncated or beyond the limits
            return depth == 0 ? 0 : -1;
        }
        int full = 0;
        switch (kind) {
            case XML_TAG_START:
                depth++;
                if (depth == 1) {
                    for (int32_t i = 0; i < root->count; i++) root->children[i] = nullptr;
                    root->count = 0;
                    root->level = 1;
                    root->closed = 0;
                    root->value[0] = '\0';
                    snprintf(root->name, sizeof root->name, "%s", name);
                } else if (!addNode(root, depth, &node_count, name, &full) && full) {
                    return -1;
                }
                break;
            case XML_TAG_END:
                depth--;
                if (!closeNode(root, end_name, depth, value)) return -1;
                if (depth == 0) return 0;  // anything after the root is not read
                break;
            default:  // XML_TAG_EMPTY
                // A document that starts with an empty element has no root to hold it.
                if (depth == 0) return -1;
                if (!addEmptyNode(root, depth + 1, &node_count, name, &full) && full) return -1;
                break;
        }
    }
}

void freeTreeNode(xml_node *node) {
    if (!node) return;
    for (int32_t i = 0; i < node->count; i++) {
        printf("count i  = %d \n", i);
        freeTreeNode(node->children[i]);
    }
    free(node);
}

void freeTreeChildren(xml_node *root) {
    if (!root) return;
    for (int32_t i = 0; i < root->count; i++) {
        freeTreeNode(root->children[i]);
        root->children[i] = nullptr;
    }
    root->count = 0;
}

void printAllTreeNode(const xml_node *node) {
    if (!node) return;
    printf("%s : %s, child num : %d\n", node->name, node->value, node->count);
    for (int32_t i = 0; i < node->count; i++) printAllTreeNode(node->children[i]);
}
