#include "inkora-list.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Owns a list for the length of a test.
struct ListGuard {
    inkora_list* list = inkora_create_list();
    ~ListGuard() { inkora_list_free(list); }
};

std::vector<void*> contents(const inkora_list* list) {
    std::vector<void*> out;
    for (const inkora_list_item* item = list->first; item != nullptr; item = item->next) {
        out.push_back(item->ptr);
    }
    return out;
}

// Walks the list backwards, so that broken prev links show up.
std::vector<void*> contents_reversed(const inkora_list* list) {
    std::vector<void*> out;
    for (const inkora_list_item* item = list->last; item != nullptr; item = item->prev) {
        out.insert(out.begin(), item->ptr);
    }
    return out;
}

int a, b, c;

TEST(InkoraList, AddKeepsOrderInBothDirections) {
    ListGuard g;
    EXPECT_EQ(inkora_list_count(g.list), 0u);
    EXPECT_EQ(g.list->first, nullptr);
    EXPECT_EQ(g.list->last, nullptr);
    inkora_list_item* ia = inkora_list_add(g.list, &a);
    inkora_list_add(g.list, &b);
    inkora_list_item* ic = inkora_list_add(g.list, &c);
    ASSERT_NE(ia, nullptr);
    EXPECT_EQ(ia->ptr, &a);
    EXPECT_EQ(g.list->first, ia);
    EXPECT_EQ(g.list->last, ic);
    EXPECT_EQ(inkora_list_count(g.list), 3u);
    const std::vector<void*> expected{&a, &b, &c};
    EXPECT_EQ(contents(g.list), expected);
    EXPECT_EQ(contents_reversed(g.list), expected);
}

struct RemoveCase {
    int count;
    int remove_index;
    std::vector<int> remaining;
};

void PrintTo(const RemoveCase& tc, std::ostream* os) {
    *os << "remove " << tc.remove_index << " of " << tc.count;
}

class InkoraListRemove : public ::testing::TestWithParam<RemoveCase> {};

TEST_P(InkoraListRemove, UnlinksAndFixesEnds) {
    static int elements[3];
    const RemoveCase& tc = GetParam();
    ListGuard g;
    std::vector<inkora_list_item*> items;
    for (int i = 0; i < tc.count; ++i) {
        items.push_back(inkora_list_add(g.list, &elements[i]));
    }
    EXPECT_EQ(inkora_list_remove(g.list, items[static_cast<size_t>(tc.remove_index)]), 1);
    std::vector<void*> expected;
    for (int i : tc.remaining) {
        expected.push_back(&elements[i]);
    }
    EXPECT_EQ(contents(g.list), expected);
    EXPECT_EQ(contents_reversed(g.list), expected);
    if (expected.empty()) {
        EXPECT_EQ(g.list->first, nullptr);
        EXPECT_EQ(g.list->last, nullptr);
    } else {
        EXPECT_EQ(g.list->first->ptr, expected.front());
        EXPECT_EQ(g.list->last->ptr, expected.back());
        EXPECT_EQ(g.list->first->prev, nullptr);
        EXPECT_EQ(g.list->last->next, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, InkoraListRemove,
                         ::testing::Values(RemoveCase{1, 0, {}}, RemoveCase{2, 0, {1}}, RemoveCase{2, 1, {0}},
                                           RemoveCase{3, 1, {0, 2}}, RemoveCase{3, 0, {1, 2}},
                                           RemoveCase{3, 2, {0, 1}}));

TEST(InkoraList, FindAndRemovePtrTakeTheEarlierOfTwoEqualPointers) {
    ListGuard g;
    inkora_list_item* first = inkora_list_add(g.list, &a);
    inkora_list_add(g.list, &b);
    inkora_list_item* second = inkora_list_add(g.list, &a);
    EXPECT_EQ(inkora_list_find(g.list, &a), first);
    EXPECT_EQ(inkora_list_find(g.list, &c), nullptr);
    EXPECT_EQ(inkora_list_remove_ptr(g.list, &a), 1);
    EXPECT_EQ(inkora_list_find(g.list, &a), second);
    const std::vector<void*> expected{&b, &a};
    EXPECT_EQ(contents(g.list), expected);
    EXPECT_EQ(inkora_list_remove_ptr(g.list, &c), 0);
    EXPECT_EQ(inkora_list_count(g.list), 2u);
}

TEST(InkoraList, NullListsAndItemsAreRefused) {
    EXPECT_EQ(inkora_list_add(nullptr, &a), nullptr);
    EXPECT_EQ(inkora_list_count(nullptr), 0u);
    EXPECT_EQ(inkora_list_find(nullptr, &a), nullptr);
    EXPECT_EQ(inkora_list_remove(nullptr, nullptr), 0);
    EXPECT_EQ(inkora_list_remove_ptr(nullptr, &a), 0);
    inkora_list_free(nullptr);
    ListGuard g;
    EXPECT_EQ(inkora_list_remove(g.list, nullptr), 0);
}

TEST(InkoraList, NullElementsAreStoredAndFound) {
    ListGuard g;
    inkora_list_item* item = inkora_list_add(g.list, nullptr);
    EXPECT_EQ(inkora_list_find(g.list, nullptr), item);
    EXPECT_EQ(inkora_list_count(g.list), 1u);
}

} // namespace
