#include "test_list.h"

#include "cgi/cgi.h"
#include "cgi/query_decode.h"

#include <gtest/gtest.h>

namespace {

struct DecodeCase {
    const char *description;
    std::string query;
    Pairs expected;
};

void expect_decodes(const std::vector<DecodeCase> &cases) {
    for (const DecodeCase &c : cases) {
        SCOPED_TRACE(std::string(c.description) + ": query '" + c.query + "'");
        EXPECT_EQ(decode(c.query), c.expected);
    }
}

TEST(Decode, SplitsPairsOnRawSeparatorsEachInItsOwnHalf) {
    expect_decodes({
        {"empty text", "", {}},
        {"three pairs in query order", "p=1&q=2&r=3", {{"p", "1"}, {"q", "2"}, {"r", "3"}}},
        {"'=' inside a value is ordinary", "a=b=d", {{"a", "b=d"}}},
        {"'==' leaves '=' in the value", "a==b", {{"a", "=b"}}},
        {"'&' inside a name is ordinary", "a&b=d", {{"a&b", "d"}}},
        {"a doubled '&' starts the next name", "x=1&&y=2", {{"x", "1"}, {"&y", "2"}}},
        {"a name alone is dropped", "a", {}},
        {"an empty value is dropped", "a=", {}},
        {"an empty name is dropped", "=b", {}},
        {"only the empty pair is dropped", "a=&b=2", {{"b", "2"}}},
        {"a trailing '&' adds nothing", "a=1&", {{"a", "1"}}},
        {"a lone '&'", "&", {}},
        {"a lone '='", "=", {}},
        {"a name alone after a pair dropped for its NUL", "%00=v&n", {}},
        {"names differing in case are both kept", "A=1&a=2", {{"A", "1"}, {"a", "2"}}},
        {"repeated names are all kept", "x=1&x=2&x=3", {{"x", "1"}, {"x", "2"}, {"x", "3"}}},
    });
}

TEST(Decode, DecodesPlusAndPercentEscapesAndKeepsMalformedOnesLiterally) {
    expect_decodes({
        {"'+' is a space in names and values", "first+name=J+Doe", {{"first name", "J Doe"}}},
        {"escapes in either case", "%41%4a=%7e%2B", {{"AJ", "~+"}}},
        {"escaped separators are ordinary text", "k=%3D%26", {{"k", "=&"}}},
        {"an escaped '=' in a name", "%3D=v", {{"=", "v"}}},
        {"an escape ending the text is decoded", "k=%41", {{"k", "A"}}},
        {"'%' as the last byte", "k=50%", {{"k", "50%"}}},
        {"'%' with one digit before the end", "k=%4", {{"k", "%4"}}},
        {"'%' with non-hex digits", "k=%zz1", {{"k", "%zz1"}}},
        {"'%' with one hex digit then a non-hex one", "k=%4g", {{"k", "%4g"}}},
        {"'%' before an escape", "k=%%41", {{"k", "%A"}}},
        {"a cut escape before a separator", "k=%4&j=1", {{"k", "%4"}, {"j", "1"}}},
        {"the highest byte", "k=%ff%FF", {{"k", "\xff\xff"}}},
        {"raw bytes above 0x7f pass unchanged", "k=\xc3\xa9", {{"k", "\xc3\xa9"}}},
    });
}

TEST(Decode, KeepsEveryRawByteButTheSeparatorsOfItsHalf) {
    // In a name every byte but '=' is ordinary, in a value every byte but '&';
    // '+' still decodes to a space and a '%' without hex digits stays.
    std::string name, value, decoded_name, decoded_value;
    for (int byte = 0x01; byte <= 0xff; ++byte) {
        const char c = static_cast<char>(byte);
        const char decoded = c == '+' ? ' ' : c;
        if (c != '=') {
            name += c;
            decoded_name += decoded;
        }
        if (c != '&') {
            value += c;
            decoded_value += decoded;
        }
    }
    expect_decodes({
        {"every byte in a name and a value", name + "=" + value, {{decoded_name, decoded_value}}},
    });
}

TEST(Decode, EndsANameOrValueAtADecodedNul) {
    expect_decodes({
        {"NUL inside a value", "k=a%00b", {{"k", "a"}}},
        {"NUL first in a name drops the pair", "%00k=v", {}},
        {"NUL first in a value drops the pair", "k=%00&j=1", {{"j", "1"}}},
        {"NUL inside a name", "k%00x=v", {{"k", "v"}}},
    });
}

TEST(Decode, KeepsTheFirst1022BytesOfALongNameOrValue) {
    const std::string max(1022, 'v');
    expect_decodes({
        {"a value of 1022 bytes is whole", "k=" + max, {{"k", max}}},
        {"a value of 1023 bytes is cut", "k=" + max + "w", {{"k", max}}},
        {"a value of 1024 bytes is cut", "k=" + max + "ww", {{"k", max}}},
        {"a name of 1023 bytes is cut", max + "n=1", {{max, "1"}}},
        {"a 5000-byte value does not disturb the next pair",
         "k=" + std::string(5000, 'v') + "&next=1",
         {{"k", max}, {"next", "1"}}},
        {"a 5000-byte name does not disturb its value",
         std::string(5000, 'n') + "=1&z=2",
         {{std::string(1022, 'n'), "1"}, {"z", "2"}}},
    });
}

TEST(Decode, CountsDecodedBytesNotTextBytesAgainstTheLimit) {
    std::string escaped_1023;
    for (int i = 0; i < 1023; ++i) {
        escaped_1023 += "%41";
    }
    std::string pluses(2000, '+');
    expect_decodes({
        {"1023 escapes decode to 1022 bytes", "k=" + escaped_1023, {{"k", std::string(1022, 'A')}}},
        {"escapes past the limit are still consumed",
         "k=" + escaped_1023 + "%41&j=%41",
         {{"k", std::string(1022, 'A')}, {"j", "A"}}},
        {"2000 '+' decode to 1022 spaces", "k=" + pluses, {{"k", std::string(1022, ' ')}}},
        {"a NUL at byte 1023 leaves 1022 bytes",
         "k=" + std::string(1022, 'v') + "%00",
         {{"k", std::string(1022, 'v')}}},
    });
}

// The block decoding stores into is sized by a scan of the raw separators,
// so the scan may never count fewer nodes than decoding stores.
TEST(Decode, CountsEveryNodeDecodingCanStoreBeforeDecoding) {
    struct Case {
        const char *description;
        std::string query;
        size_t count;
        size_t stored;
    };
    std::string most_pairs;
    for (int i = 0; i < 16383; ++i) {
        most_pairs += "a=1&";
    }
    most_pairs += "b=";
    ASSERT_EQ(most_pairs.size(), 65534u);
    const Case cases[] = {
        {"no pairs", "", 0, 0},
        {"a decoded NUL first in a name", "%00k=v", 1, 0},
        {"a decoded NUL first in a value", "k=%00&j=1", 2, 1},
        {"decoded NULs first in both", "%00=%00", 1, 0},
        {"a decoded NUL later in a value", "k=a%00", 1, 1},
        {"'&' inside a name", "a&b=d", 1, 1},
        {"'=' inside a value", "a=b=d&c==", 2, 2},
        {"escaped separators", "%3D=%26&%26=%3D", 2, 2},
        {"a cut escape as the whole value", "k=%4", 1, 1},
        {"a trailing '&'", "a=1&", 1, 1},
        {"trailing separators", "a=1&&=&", 1, 1},
        {"a pair without a value at the end", "a=1&b=", 1, 1},
        {"a name alone at the end", "a=1&b", 1, 1},
        {"lone separators", "&=&=&", 0, 0},
        {"65,534 characters of the shortest pairs", most_pairs, 16383, 16383},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.description) + ": query '" + c.query.substr(0, 40) + "'");
        EXPECT_EQ(cgi_count_params(c.query.c_str()), c.count);
        EXPECT_EQ(decode(c.query).size(), c.stored);
    }
}

TEST(Decode, DropsPairsBeyondTheBlockInsteadOfOverrunningIt) {
    std::vector<struct cgi_param> block(3);
    block[2].name[0] = 'u'; // the guard node: decoding must leave it alone
    block[2].name[1] = '\0';
    EXPECT_EQ(cgi_decode_query_string("a=1&b=2&c=3&d=4", block.data(), 2), 2u);
    EXPECT_EQ(stored_pairs(), (Pairs{{"a", "1"}, {"b", "2"}}));
    EXPECT_STREQ(block[2].name, "u");
    EXPECT_EQ(cgi_decode_query_string("a=1", nullptr, 0), 0u);
    EXPECT_EQ(cgi_request.params, nullptr);
}

} // namespace
