// The XML tree reader: structure, values, failures and the record's limits.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "xml_tree.h"

namespace {

// A parsed document that releases its nodes.
struct parsed {
    xml_node root;
    int rc;
    explicit parsed(const std::string &text) {
        memset(&root, 0, sizeof root);
        rc = xml2Tree(text.c_str(), &root);
    }
    ~parsed() { freeTreeChildren(&root); }
};

// Renders a tree as name=value{children} for compact expectations.
std::string shape(const xml_node *n) {
    std::string s = std::string(n->name) + "=" + n->value;
    if (n->count) {
        s += "{";
        for (int32_t i = 0; i < n->count; i++) s += (i ? "," : "") + shape(n->children[i]);
        s += "}";
    }
    return s;
}

struct tree_case {
    const char *name;
    const char *text;
    const char *shape;  // expected tree, or null when the parse must fail
};

const tree_case kTreeCases[] = {
    {"child_and_empty_element", "<ConfigParams><a>5</a><b/></ConfigParams>",
     "ConfigParams={a=5,b=}"},
    {"value_keeps_surrounding_space", "<r><a>  7 </a></r>", "r={a=  7 }"},
    {"white_space_only_value_is_empty", "<r><a>\n   \t</a></r>", "r={a=}"},
    {"control_bytes_count_as_white_space", "<r><a>\x01\x1f </a></r>", "r={a=}"},
    {"value_is_text_just_before_end_tag", "<r>1<a>2</a>3</r>", "r=3{a=2}"},
    {"nested_levels", "<r><p><q>9</q></p><s>x</s></r>", "r={p={q=9},s=x}"},
    {"attributes_on_empty_element", "<r><a x=\"1\"/></r>", "r={a=}"},
    {"text_after_root_ignored", "<r><a>1</a></r><second><x>2</x></second>", "r={a=1}"},
    {"garbage_after_root_ignored", "<r></r><<<", "r="},
    {"utf8_text_is_visible", "<r><a>\xc3\xa9</a></r>", "r={a=\xc3\xa9}"},
    {"leading_text_ignored", "hello <r><a>1</a></r>", "r={a=1}"},
    {"mismatched_end_tag", "<r><a>1</b></r>", nullptr},
    {"root_never_closed", "<r><a>1</a>", nullptr},
    {"attributes_on_element_with_end_tag", "<r x=\"1\"><a>1</a></r>", nullptr},
    {"declaration_is_an_unclosed_start_tag", "<?xml version=\"1.0\"?><r></r>", nullptr},
    {"comment_is_an_unclosed_start_tag", "<r><!-- c --><a>1</a></r>", nullptr},
    {"lt_without_gt", "<r><a>1</a", nullptr},
    {"lt_without_gt_in_text", "<r><a>1 < 2</a></r>", nullptr},
    {"first_tag_empty_element", "<r/>", nullptr},
    {"first_tag_empty_element_then_more", "<r/><s><a>1</a></s>", nullptr},
    // No tag and nothing open: a successful, empty parse (the root keeps no name).
    {"empty_document", "", "="},
    {"only_text", "no markup at all", "="},
};

class XmlTreeCase : public ::testing::TestWithParam<tree_case> {};

TEST_P(XmlTreeCase, ParsesToExpectedTree) {
    const tree_case &c = GetParam();
    parsed p(c.text);
    if (!c.shape) {
        EXPECT_EQ(p.rc, -1);
        return;
    }
    ASSERT_EQ(p.rc, 0);
    EXPECT_EQ(shape(&p.root), c.shape);
}

INSTANTIATE_TEST_SUITE_P(Documents, XmlTreeCase, ::testing::ValuesIn(kTreeCases),
                         [](const auto &p) { return std::string(p.param.name); });

TEST(XmlTree, ClosedNodesCarryLoweredLevels) {
    parsed p("<r><a><b>1</b></a><c/></r>");
    ASSERT_EQ(p.rc, 0);
    EXPECT_EQ(p.root.level, 0);
    EXPECT_EQ(p.root.closed, 1);
    const xml_node *a = p.root.children[0];
    EXPECT_EQ(a->level, 1);
    EXPECT_EQ(a->closed, 1);
    EXPECT_EQ(a->children[0]->level, 2);
    EXPECT_EQ(p.root.children[1]->level, 1);  // empty element: created at 2, closed at once
    EXPECT_EQ(p.root.children[2], nullptr);
}

// The record's limits: at the limit the parse succeeds, one past it fails.
std::string repeat(char c, size_t n) {
    return std::string(n, c);
}

std::string children(int n) {
    std::string s = "<r>";
    for (int i = 0; i < n; i++) s += "<c>" + std::to_string(i) + "</c>";
    return s + "</r>";
}

struct limit_case {
    const char *name;
    std::string text;
    bool ok;
};

TEST(XmlTree, LimitsFailInsteadOfCutting) {
    // A whole tag "<" .. ">" may have 63 characters: a start tag "<" + 61 + ">".
    const limit_case cases[] = {
        {"64_children", children(64), true},
        {"65_children", children(65), false},
        {"value_255", "<r><a>" + repeat('v', 255) + "</a></r>", true},
        {"value_256", "<r><a>" + repeat('v', 256) + "</a></r>", false},
        {"tag_63", "<" + repeat('n', 61) + "><a>1</a></" + repeat('n', 61) + ">",
         false},  // end tag is 64
        {"start_and_end_tag_63", "<" + repeat('n', 60) + "></" + repeat('n', 60) + ">", true},
        {"start_tag_64", "<" + repeat('n', 62) + "></r>", false},
        {"empty_element_63", "<r><" + repeat('e', 60) + "/></r>", true},
        {"empty_element_64", "<r><" + repeat('e', 61) + "/></r>", false},
    };
    for (const limit_case &c : cases) {
        parsed p(c.text);
        EXPECT_EQ(p.rc == 0, c.ok) << c.name;
    }
    parsed full(children(64));
    ASSERT_EQ(full.rc, 0);
    EXPECT_EQ(full.root.count, 64);
    EXPECT_STREQ(full.root.children[63]->value, "63");
    parsed v255("<r><a>" + repeat('v', 255) + "</a></r>");
    EXPECT_EQ(strlen(v255.root.children[0]->value), 255u);
}

TEST(XmlTree, TruncatedInputIsNotReadPastItsEnd) {
    // Every prefix of a valid document either fails or parses, and never reads
    // beyond its terminator (the sanitizer build checks the reads).
    const std::string doc = "<ConfigParams><a>5</a><b x=\"1\"/><c>  7 </c></ConfigParams>";
    for (size_t n = 0; n < doc.size(); n++) {
        std::string cut = doc.substr(0, n);
        char *heap = strdup(cut.c_str());  // exact-size allocation
        xml_node root;
        memset(&root, 0, sizeof root);
        int rc = xml2Tree(heap, &root);
        EXPECT_TRUE(rc == -1 || n == 0) << n;
        freeTreeChildren(&root);
        free(heap);
    }
}

TEST(XmlTree, ParseXmlBufReportsKindsAndNames) {
    char name[XML_NAME_SIZE], end_name[XML_NAME_SIZE], text[XML_VALUE_SIZE];
    struct {
        const char *in;
        int kind;
        const char *name;
        const char *end_name;
        const char *text;
        size_t consumed;
    } cases[] = {
        {"<abc>", XML_TAG_START, "abc", "", "", 5},
        {"<a b='1'>", XML_TAG_START, "a b='1'", "", "", 9},
        {" 12 </abc>", XML_TAG_END, "", "abc", " 12 ", 10},
        {"\n </abc>", XML_TAG_END, "", "abc", "", 8},
        {"<e/>", XML_TAG_EMPTY, "e", "", "", 4},
        {"x<e k='v'/>", XML_TAG_EMPTY, "e", "", "", 11},
    };
    for (const auto &c : cases) {
        memset(name, 0, sizeof name);
        memset(end_name, 0, sizeof end_name);
        memset(text, 0, sizeof text);
        int kind = 99;
        const char *next = parseXmlBuf(c.in, name, end_name, text, &kind);
        ASSERT_NE(next, nullptr) << c.in;
        EXPECT_EQ(kind, c.kind) << c.in;
        EXPECT_STREQ(name, c.name) << c.in;
        EXPECT_STREQ(end_name, c.end_name) << c.in;
        EXPECT_STREQ(text, c.text) << c.in;
        EXPECT_EQ((size_t)(next - c.in), c.consumed) << c.in;
    }
    int kind = 99;
    EXPECT_EQ(parseXmlBuf("no tags", name, end_name, text, &kind), nullptr);
    EXPECT_EQ(kind, 99);
    EXPECT_EQ(parseXmlBuf("<open", name, end_name, text, &kind), nullptr);
    EXPECT_EQ(kind, XML_TAG_BAD);
}

TEST(XmlTree, FindPointsSearchPreOrder) {
    parsed p("<r><a><x>1</x></a><b>2</b></r>");
    ASSERT_EQ(p.rc, 0);
    // Reopen two nodes by hand to see which one pre-order finds first.
    xml_node *a = p.root.children[0], *b = p.root.children[1];
    a->closed = 0;
    a->level = 2;
    b->closed = 0;
    b->level = 2;
    EXPECT_EQ(findPoint2Add(&p.root, 2), a);
    EXPECT_EQ(findPoint2Close(&p.root, 2, "b"), b);
    EXPECT_EQ(findPoint2Close(&p.root, 3, "b"), nullptr);
    EXPECT_EQ(closeNode(&p.root, "b", 1, "new"), b);
    EXPECT_STREQ(b->value, "new");
    EXPECT_EQ(b->level, 1);
    EXPECT_EQ(b->closed, 1);
}

TEST(XmlTree, FreeAndPrintWalkTheWholeTree) {
    parsed p("<r><a><x>1</x></a><b/></r>");
    ASSERT_EQ(p.rc, 0);
    testing::internal::CaptureStdout();
    printAllTreeNode(&p.root);
    EXPECT_EQ(
        testing::internal::GetCapturedStdout(),
        "r : , child num : 2\na : , child num : 1\nx : 1, child num : 0\nb : , child num : 0\n");
    testing::internal::CaptureStdout();
    freeTreeChildren(&p.root);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "count i  = 0 \n");
    EXPECT_EQ(p.root.count, 0);
}

}  // namespace
