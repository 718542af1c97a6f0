#include "test_list.h"

#include "cgi/cgi.h"

#include <climits>
#include <strings.h>
#include <gtest/gtest.h>

namespace {

struct LookupCase {
    const char *description;
    const char *name;
    int occurrence;
    const char *expected_value; // null when no node may be found
};

void expect_lookups(const std::string &query, const std::vector<LookupCase> &cases) {
    decode(query);
    for (const LookupCase &c : cases) {
        SCOPED_TRACE(std::string(c.description) + ": '" + c.name + "' #" +
                     std::to_string(c.occurrence) + " in '" + query + "'");
        const struct cgi_param *found = cgi_get_param(c.name, c.occurrence);
        if (c.expected_value == nullptr) {
            EXPECT_EQ(found, nullptr);
        } else {
            ASSERT_NE(found, nullptr);
            EXPECT_STREQ(found->value, c.expected_value);
            EXPECT_TRUE(strcasecmp(found->name, c.name) == 0) << found->name;
        }
    }
}

TEST(Lookup, FindsNothingInAnEmptyList) {
    expect_lookups("", {
                           {"first", "action", 1, nullptr},
                           {"occurrence 0", "action", 0, nullptr},
                           {"empty name", "", 1, nullptr},
                       });
}

TEST(Lookup, MatchesWholeNamesIgnoringAsciiCaseOnly) {
    expect_lookups("DATA=1&Data=2&data2=3&dat=4&\xc9t\xc9=5&ZIPz=6",
                   {
                       {"upper-case node", "data", 1, "1"},
                       {"mixed-case node", "data", 2, "2"},
                       {"a longer name is no match", "data", 3, nullptr},
                       {"a shorter name is no match", "data2", 1, "3"},
                       {"a prefix of a stored name", "da", 1, nullptr},
                       {"a stored name as a prefix", "dat", 1, "4"},
                       {"bytes above 0x7f compare exactly", "\xc9t\xc9", 1, "5"},
                       {"bytes above 0x7f are not folded", "\xe9t\xe9", 1, nullptr},
                       {"the empty name matches nothing", "", 1, nullptr},
                       {"'Z' and 'z', the ends of the fold, either side", "zipZ", 1, "6"},
                   });
}

TEST(Lookup, CountsOnlyMatchingNodesTowardTheOccurrence) {
    expect_lookups("x=1&y=a&x=2&z=b&y=c&x=3", {
                                                  {"first", "x", 1, "1"},
                                                  {"second, past another name", "x", 2, "2"},
                                                  {"third", "x", 3, "3"},
                                                  {"past the last match", "x", 4, nullptr},
                                                  {"zero asks for the first", "x", 0, "1"},
                                                  {"negative asks for the first", "x", -5, "1"},
                                                  {"the lowest int", "x", INT_MIN, "1"},
                                                  {"the highest int", "x", INT_MAX, nullptr},
                                                  {"second of another name", "y", 2, "c"},
                                              });
}

TEST(Lookup, CountsNamesThatDifferOnlyInCaseAsOne) {
    expect_lookups("X=1&x=2", {
                                  {"first", "x", 1, "1"},
                                  {"second", "x", 2, "2"},
                                  {"asked in upper case", "X", 2, "2"},
                              });
}

} // namespace
