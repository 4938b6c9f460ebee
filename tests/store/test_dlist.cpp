// The engine's doubly linked list: links, counts and item copies checked after
// every operation against a plain model of the expected order.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "store/zu_dlist.h"

namespace {

zu_event make_event(int32_t tag) {
    zu_event e;
    memset(&e, 0xa5, sizeof e);  // padding too, so byte comparison is meaningful
    e.end = tag & 1;
    e.type = 0;
    e.time_ms = 1000u * (uint32_t)tag + 7;
    e.model_name = "model";
    e.mid = tag;
    e.sp_name = nullptr;
    e.spid = -1;
    e.last_score = -tag;
    e.score = tag * 65536;
    e.threshold = INT32_MIN;
    return e;
}

// Checks every invariant of the list and that its items carry the tags given, head first.
void expect_list(const zu_dlist *list, const std::vector<int32_t> &tags) {
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(zu_dlist_length(list), (int32_t)tags.size());
    EXPECT_EQ(list->count, (int32_t)tags.size());
    if (tags.empty()) {
        EXPECT_EQ(list->head, nullptr);
        EXPECT_EQ(list->tail, nullptr);
        EXPECT_EQ(zu_dlist_begin(list), nullptr);
        EXPECT_EQ(zu_dlist_end(list), nullptr);
        return;
    }
    ASSERT_NE(list->head, nullptr);
    ASSERT_NE(list->tail, nullptr);
    EXPECT_EQ(list->head->prev, nullptr);
    EXPECT_EQ(list->tail->next, nullptr);
    const zu_dlist_node *prev = nullptr;
    const zu_dlist_node *node = zu_dlist_begin(list);
    for (size_t i = 0; i < tags.size(); i++) {
        ASSERT_FALSE(zu_dlist_is_end(node)) << "walk ended early at " << i;
        EXPECT_EQ(zu_dlist_prev(node), prev);
        zu_event got;
        ASSERT_EQ(zu_dlist_item(node, &got), 1);
        zu_event want = make_event(tags[i]);
        EXPECT_EQ(memcmp(&got, &want, sizeof got), 0) << "item " << i;
        prev = node;
        node = zu_dlist_next(node);
    }
    EXPECT_TRUE(zu_dlist_is_end(node));
    EXPECT_EQ(prev, zu_dlist_end(list));
}

// One step of a scenario: an operation on the list and the tags it must then hold.
enum class Op { PushEnd, PushFront, PopEnd, PopFront, RemoveAt };

struct Step {
    Op op;
    int32_t arg;     // tag to push, or position to remove (0 = head)
    int result;      // pop: expected return; remove: 1 when a successor is expected
    int32_t popped;  // pop/remove: tag of the item copied out
    std::vector<int32_t> after;
};

struct Scenario {
    const char *name;
    std::vector<Step> steps;
};

}  // namespace

TEST(Dlist, ScenariosKeepLinksCountsAndItems) {
    const Scenario scenarios[] = {
        {"push end into empty: head and tail, links empty", {{Op::PushEnd, 1, 0, 0, {1}}}},
        {"push front into empty", {{Op::PushFront, 1, 0, 0, {1}}}},
        {"push order",
         {{Op::PushEnd, 1, 0, 0, {1}},
          {Op::PushEnd, 2, 0, 0, {1, 2}},
          {Op::PushFront, 3, 0, 0, {3, 1, 2}},
          {Op::PushFront, 4, 0, 0, {4, 3, 1, 2}}}},
        {"pop the only node at the end", {{Op::PushEnd, 5, 0, 0, {5}}, {Op::PopEnd, 0, 1, 5, {}}}},
        {"pop the only node at the front",
         {{Op::PushEnd, 5, 0, 0, {5}}, {Op::PopFront, 0, 1, 5, {}}}},
        {"pops from both ends",
         {{Op::PushEnd, 1, 0, 0, {1}},
          {Op::PushEnd, 2, 0, 0, {1, 2}},
          {Op::PushEnd, 3, 0, 0, {1, 2, 3}},
          {Op::PopEnd, 0, 1, 3, {1, 2}},
          {Op::PopFront, 0, 1, 1, {2}},
          {Op::PopFront, 0, 1, 2, {}},
          {Op::PopEnd, 0, 0, 0, {}},
          {Op::PopFront, 0, 0, 0, {}}}},
        {"remove head, middle, tail",
         {{Op::PushEnd, 1, 0, 0, {1}},
          {Op::PushEnd, 2, 0, 0, {1, 2}},
          {Op::PushEnd, 3, 0, 0, {1, 2, 3}},
          {Op::PushEnd, 4, 0, 0, {1, 2, 3, 4}},
          {Op::RemoveAt, 0, 1, 1, {2, 3, 4}},
          {Op::RemoveAt, 1, 1, 3, {2, 4}},
          {Op::RemoveAt, 1, 0, 4, {2}},
          {Op::RemoveAt, 0, 0, 2, {}}}},
        {"push after emptying",
         {{Op::PushEnd, 1, 0, 0, {1}},
          {Op::RemoveAt, 0, 0, 1, {}},
          {Op::PushFront, 2, 0, 0, {2}},
          {Op::PushEnd, 3, 0, 0, {2, 3}}}},
    };
    for (const Scenario &sc : scenarios) {
        SCOPED_TRACE(sc.name);
        zu_dlist *list = zu_dlist_new();
        ASSERT_NE(list, nullptr);
        expect_list(list, {});
        for (size_t i = 0; i < sc.steps.size(); i++) {
            const Step &st = sc.steps[i];
            SCOPED_TRACE("step " + std::to_string(i));
            zu_event item = make_event(st.arg);
            zu_event out = make_event(999);
            const zu_event untouched = out;
            switch (st.op) {
                case Op::PushEnd:
                    EXPECT_EQ(zu_dlist_push_end(list, &item), list);
                    break;
                case Op::PushFront:
                    EXPECT_EQ(zu_dlist_push_front(list, &item), list);
                    break;
                case Op::PopEnd:
                case Op::PopFront: {
                    int got = st.op == Op::PopEnd ? zu_dlist_pop_end(list, &out)
                                                  : zu_dlist_pop_front(list, &out);
                    EXPECT_EQ(got, st.result);
                    zu_event want = st.result ? make_event(st.popped) : untouched;
                    EXPECT_EQ(memcmp(&out, &want, sizeof out), 0);
                    break;
                }
                case Op::RemoveAt: {
                    zu_dlist_node *node = zu_dlist_begin(list);
                    for (int32_t k = 0; k < st.arg; k++) node = zu_dlist_next(node);
                    zu_dlist_node *expected_next = zu_dlist_next(node);
                    zu_dlist_node *next = zu_dlist_remove_item(list, node, &out);
                    EXPECT_EQ(next, expected_next);
                    EXPECT_EQ(next != nullptr, st.result == 1);
                    zu_event want = make_event(st.popped);
                    EXPECT_EQ(memcmp(&out, &want, sizeof out), 0);
                    break;
                }
            }
            expect_list(list, st.after);
        }
        zu_dlist_delete(list);
    }
}

// The walk the event code uses: copy each item out, drop some, step on with the
// handle remove_item returns.
TEST(Dlist, RemovingDuringAWalk) {
    zu_dlist *list = zu_dlist_new();
    for (int32_t t = 1; t <= 6; t++) {
        zu_event e = make_event(t);
        ASSERT_EQ(zu_dlist_push_end(list, &e), list);
        zu_dlist_node *last = zu_dlist_end(list);
        EXPECT_EQ(zu_dlist_is_end(last), 0);  // the end handle is the last node itself
        zu_event got;
        zu_dlist_item(last, &got);
        EXPECT_EQ(got.mid, t);
    }
    std::vector<int32_t> seen;
    zu_dlist_node *node = zu_dlist_begin(list);
    while (!zu_dlist_is_end(node)) {
        zu_event e;
        ASSERT_EQ(zu_dlist_item(node, &e), 1);
        seen.push_back(e.mid);
        node = (e.mid % 2 == 1) ? zu_dlist_remove_item(list, node, &e) : zu_dlist_next(node);
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
    expect_list(list, {2, 4, 6});
    zu_dlist_delete(list);
}

TEST(Dlist, NoneArgumentsNeverFault) {
    zu_event e = make_event(1);
    zu_event out = make_event(2);
    const zu_event untouched = out;
    zu_dlist *list = zu_dlist_new();

    EXPECT_EQ(zu_dlist_push_end(nullptr, &e), nullptr);
    EXPECT_EQ(zu_dlist_push_front(nullptr, &e), nullptr);
    EXPECT_EQ(zu_dlist_push_end(list, nullptr), nullptr);
    EXPECT_EQ(zu_dlist_push_front(list, nullptr), nullptr);
    expect_list(list, {});

    ASSERT_EQ(zu_dlist_push_end(list, &e), list);
    EXPECT_EQ(zu_dlist_pop_end(nullptr, &out), 0);
    EXPECT_EQ(zu_dlist_pop_front(nullptr, &out), 0);
    EXPECT_EQ(zu_dlist_pop_end(list, nullptr), 0);
    EXPECT_EQ(zu_dlist_pop_front(list, nullptr), 0);
    EXPECT_EQ(zu_dlist_item(nullptr, &out), 0);
    EXPECT_EQ(zu_dlist_item(zu_dlist_begin(list), nullptr), 0);
    EXPECT_EQ(zu_dlist_remove_item(nullptr, zu_dlist_begin(list), &out), nullptr);
    EXPECT_EQ(zu_dlist_remove_item(list, nullptr, &out), nullptr);
    EXPECT_EQ(zu_dlist_remove_item(list, zu_dlist_begin(list), nullptr), nullptr);
    EXPECT_EQ(memcmp(&out, &untouched, sizeof out), 0);
    expect_list(list, {1});

    EXPECT_EQ(zu_dlist_length(nullptr), 0);
    EXPECT_EQ(zu_dlist_begin(nullptr), nullptr);
    EXPECT_EQ(zu_dlist_end(nullptr), nullptr);
    EXPECT_EQ(zu_dlist_next(nullptr), nullptr);
    EXPECT_EQ(zu_dlist_prev(nullptr), nullptr);
    EXPECT_EQ(zu_dlist_is_end(nullptr), 1);
    zu_dlist_delete(nullptr);
    zu_dlist_delete(list);
}

// A node of another list is refused and both lists stay intact.
TEST(Dlist, RemoveRefusesANodeOfAnotherList) {
    zu_dlist *a = zu_dlist_new();
    zu_dlist *b = zu_dlist_new();
    for (int32_t t = 1; t <= 3; t++) {
        zu_event e = make_event(t);
        zu_dlist_push_end(a, &e);
        e = make_event(10 + t);
        zu_dlist_push_end(b, &e);
    }
    zu_event out = make_event(0);
    EXPECT_EQ(zu_dlist_remove_item(a, zu_dlist_next(zu_dlist_begin(b)), &out), nullptr);
    EXPECT_EQ(out.mid, 0);
    expect_list(a, {1, 2, 3});
    expect_list(b, {11, 12, 13});
    zu_dlist_delete(a);
    zu_dlist_delete(b);
}

namespace {

// Runs dump_list with standard output sent to a temporary file; returns the text.
std::string capture_dump(const zu_dlist *list) {
    fflush(stdout);
    FILE *tmp = tmpfile();
    EXPECT_NE(tmp, nullptr);
    int saved = dup(fileno(stdout));
    dup2(fileno(tmp), fileno(stdout));
    dump_list(list);
    fflush(stdout);
    dup2(saved, fileno(stdout));
    close(saved);
    std::string text;
    rewind(tmp);
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, tmp)) > 0) text.append(buf, n);
    fclose(tmp);
    return text;
}

std::string ptr(const void *p) {
    char buf[64];
    snprintf(buf, sizeof buf, "%p", p);
    return buf;
}

}  // namespace

TEST(Dlist, DumpListFormat) {
    EXPECT_EQ(capture_dump(nullptr), "list is NULL\n");

    zu_dlist *list = zu_dlist_new();
    EXPECT_EQ(capture_dump(list), "dlist={" + ptr(nullptr) + "," + ptr(nullptr) + "}->|\n");

    zu_event e = make_event(1);
    zu_dlist_push_end(list, &e);
    zu_dlist_push_end(list, &e);
    const zu_dlist_node *n1 = list->head;
    const zu_dlist_node *n2 = list->tail;
    std::string want = "dlist={" + ptr(n1) + "," + ptr(n2) + "}->" + ptr(n1) + "{n=" + ptr(n2) +
                       ",p=" + ptr(nullptr) + "}->" + ptr(n2) + "{n=" + ptr(nullptr) +
                       ",p=" + ptr(n1) + "}->|\n";
    EXPECT_EQ(capture_dump(list), want);
    zu_dlist_delete(list);
}
