#include "tests/standin/pack.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace standin {
namespace {

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::uint8_t> Bytes(std::string_view s) {
    return std::vector<std::uint8_t>(s.begin(), s.end());
}

// Every entry of the generated Russian pack: stored and deflated ones, checked by CRC.
TEST(StandInPack, ReadsEveryEntryOfThePack) {
    const auto zip = ReadFile(ITR_PAYLOAD_DIR "/res_ru.zip");
    ASSERT_FALSE(zip.empty());
    const auto entries = ReadZipDirectory(zip);
    ASSERT_TRUE(entries) << entries.error().Text();
    ASSERT_EQ(entries->size(), 612u);
    std::size_t total = 0;
    for (const ZipEntry& e : *entries) {
        const auto out = ReadZipEntry(zip, e);
        ASSERT_TRUE(out) << e.name << ": " << out.error().Text();
        total += out->size();
        if (e.name == "iTools_string_cn.json") {
            const auto table = ParseStringTable(*out);
            ASSERT_TRUE(table) << table.error().Text();
            EXPECT_EQ(table->size(), 3256u);
            EXPECT_EQ(table->at("Home_Welcome"), u"Добро пожаловать в iTools");
        }
    }
    EXPECT_GT(total, zip.size());
}

TEST(StandInPack, RefusesMalformedArchives) {
    const auto good = ReadFile(ITR_PAYLOAD_DIR "/standin_res_cn.data");
    const auto entries = ReadZipDirectory(good);
    ASSERT_TRUE(entries) << entries.error().Text();
    const ZipEntry* json = nullptr;
    for (const auto& e : *entries) {
        if (e.name == "iTools_string_cn.json") {
            json = &e;
        }
    }
    ASSERT_NE(json, nullptr);
    ASSERT_EQ(json->method, 8);

    // Every prefix of the archive is refused or read without reading past its end.
    for (std::size_t n = 0; n < good.size(); n += 7) {
        std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(ReadZipDirectory(cut)) << n;
    }
    // A changed byte inside the compressed data: a decoding error or a CRC mismatch.
    for (std::uint32_t k = 0; k < json->compressedSize; ++k) {
        auto bad = good;
        bad[json->localHeader + 30 + json->name.size() + k] ^= 0x5A;
        EXPECT_FALSE(ReadZipEntry(bad, *json)) << k;
    }
    ZipEntry lying = *json;
    lying.compressedSize = static_cast<std::uint32_t>(good.size());
    EXPECT_FALSE(ReadZipEntry(good, lying));
    lying = *json;
    lying.size -= 1;
    EXPECT_FALSE(ReadZipEntry(good, lying)) << "more data than the directory announces";
}

TEST(StandInPack, InflatesStoredFixedAndDynamicBlocks) {
    // A stored block "abc", final.
    const auto stored =
        Inflate(std::vector<std::uint8_t>{0x01, 0x03, 0x00, 0xFC, 0xFF, 'a', 'b', 'c'}, 10);
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, Bytes("abc"));
    // Fixed codes: "aaaaaaaaaa" as a literal and a back reference.
    const auto fixed = Inflate(std::vector<std::uint8_t>{0x4B, 0x4C, 0x84, 0x01, 0x00}, 10);
    ASSERT_TRUE(fixed) << fixed.error().Text();
    EXPECT_EQ(*fixed, Bytes("aaaaaaaaaa"));
    EXPECT_FALSE(Inflate(std::vector<std::uint8_t>{0x4B, 0x4C, 0x84, 0x01, 0x00}, 9))
        << "size limit";
    EXPECT_FALSE(Inflate(std::vector<std::uint8_t>{0x07}, 10)) << "reserved block type";
    EXPECT_FALSE(Inflate(std::vector<std::uint8_t>{}, 10));
    EXPECT_FALSE(Inflate(std::vector<std::uint8_t>{0x01, 0x03, 0x00, 0xFC, 0xFE, 'a'}, 10));
}

TEST(StandInPack, ReadsStringTables) {
    struct Case {
        const char* json;
        bool ok;
        std::map<std::string, std::u16string> table;
    };
    const Case cases[] = {
        {"{}", true, {}},
        {"\xEF\xBB\xBF{ \"a\" : \"b\" }\r\n", true, {{"a", u"b"}}},
        {"{\"k\":\"\\u0416\\n\\\"\\\\\",\"x\":\"\xD0\x96\xF0\x9F\x98\x80\"}",
         true,
         {{"k", u"Ж\n\"\\"}, {"x", u"Ж\U0001F600"}}},
        {"{\"a\":1}", false, {}},
        {"{\"a\":\"b\"", false, {}},
        {"{\"a\":\"b\"} x", false, {}},
        {"{\"a\":\"\xC0\x80\"}", false, {}},
        {"{\"a\":\"b\",}", false, {}},
        {"[\"a\"]", false, {}},
        {"{\"a\":\"\\u12\"}", false, {}},
    };
    for (const Case& c : cases) {
        const auto table = ParseStringTable(Bytes(c.json));
        EXPECT_EQ(static_cast<bool>(table), c.ok) << c.json;
        if (c.ok && table) {
            EXPECT_EQ(*table, c.table) << c.json;
        }
    }
}

TEST(StandInPack, Crc32OfKnownText) {
    EXPECT_EQ(Crc32(Bytes("123456789")), 0xCBF43926u);
    EXPECT_EQ(Crc32({}), 0u);
}

} // namespace
} // namespace standin
