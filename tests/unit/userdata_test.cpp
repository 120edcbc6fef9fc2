#include "../trailer_bytes.h"
#include "userdata.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace trailer_bytes;

namespace {

/// Parses a copy in a buffer of exactly length bytes, so that a read past it is caught by ASan.
bool parse(CUserData &userData, const std::string &bytes, uint32_t length)
{
    std::unique_ptr<unsigned char[]> exact(new unsigned char[length ? length : 1]);
    std::copy(bytes.begin(), bytes.begin() + length, exact.get());
    return userData.Parse(exact.get(), length);
}

bool parse(CUserData &userData, const std::string &bytes)
{
    return parse(userData, bytes, uint32_t(bytes.size()));
}

} // namespace

TEST(UserData, DefaultsAreTheDocumentedOnes)
{
    const CUserData userData;
    EXPECT_TRUE(userData.m_identifier.empty());
    EXPECT_EQ(userData.m_sectionCount, 0);
    EXPECT_EQ(userData.m_sectionsSize, 0u);
    EXPECT_TRUE(userData.m_sections.empty());
    EXPECT_EQ(userData.m_totalLength, 0u);
    EXPECT_EQ(userData.m_closingElement.m_id, 2);
    EXPECT_EQ(CDataElement().m_id, 0xFFFF);
    EXPECT_EQ(CDataSection().m_id, 0xFFFF);
}

TEST(UserData, ParsesTheWorkedExample)
{
    const std::string bytes = workedExample();
    ASSERT_EQ(bytes.size(), 40u);
    ASSERT_EQ(bytes.substr(9, 6), std::string("\x01\x00\x00\x00\x02\x00", 6));

    CUserData userData;
    ASSERT_TRUE(parse(userData, bytes));
    EXPECT_EQ(userData.m_identifier, "USER_DATA");
    EXPECT_EQ(userData.m_sectionCount, 1);
    EXPECT_EQ(userData.m_totalLength, 40u);
    EXPECT_EQ(userData.m_sectionsSize, 4u + 6 + 9);
    const CDataSection &config = userData.m_sections.at(0);
    EXPECT_EQ(config.m_elementCount, 2);
    EXPECT_EQ(config.m_size, 15u);
    EXPECT_EQ(config.m_elements.at(0).m_length, 0u);
    EXPECT_EQ(config.m_elements.at(1).m_data, "abc");
    EXPECT_EQ(config.m_elements.at(1).m_length, 3u);
    EXPECT_TRUE(userData.m_closingElement.m_data.empty());
    EXPECT_EQ(userData.m_closingElement.m_id, 2);
}

TEST(UserData, EveryCutOfTheWorkedExampleFailsWithoutReadingPastIt)
{
    const std::string bytes = workedExample();
    testing::internal::CaptureStdout();
    for (uint32_t length = 0; length < bytes.size(); ++length) {
        CUserData userData;
        EXPECT_FALSE(parse(userData, bytes, length)) << "cut at " << length;
    }
    testing::internal::GetCapturedStdout();
    CUserData whole;
    EXPECT_TRUE(parse(whole, bytes, 40));
}

TEST(UserData, SmallestTrailerHasNoSections)
{
    const std::string bytes = trailer(0, "");
    ASSERT_EQ(bytes.size(), 21u);
    CUserData userData;
    ASSERT_TRUE(parse(userData, bytes));
    EXPECT_TRUE(userData.m_sections.empty());
    EXPECT_EQ(userData.m_sectionsSize, 0u);
    EXPECT_EQ(userData.m_totalLength, 21u);
}

TEST(UserData, ASectionWithoutElementsStillCountsItsHeader)
{
    CUserData userData;
    ASSERT_TRUE(parse(userData, trailer(1, section(7, 0, ""))));
    EXPECT_TRUE(userData.m_sections.at(7).m_elements.empty());
    EXPECT_EQ(userData.m_sections.at(7).m_size, 0u);
    EXPECT_EQ(userData.m_sectionsSize, 4u);
}

TEST(UserData, RepeatedElementIdsKeepTheLastBodyAndCountBoth)
{
    CUserData userData;
    ASSERT_TRUE(parse(userData, trailer(1, section(0, 3, element(1, "first") + element(0, "") + element(1, "2nd")))));
    const CDataSection &config = userData.m_sections.at(0);
    EXPECT_EQ(config.m_elements.size(), 2u);
    EXPECT_EQ(config.m_elements.at(1).m_data, "2nd");
    EXPECT_EQ(config.m_elementCount, 3);
    EXPECT_EQ(config.m_size, (6u + 5) + 6 + (6 + 3));
}

TEST(UserData, RepeatedSectionIdsReplaceTheWholeSection)
{
    const std::string sections = section(0, 2, element(0, "") + element(5, "only-earlier"))
                                 + section(3, 1, element(1, "other")) + section(0, 1, element(1, "later"));
    CUserData userData;
    ASSERT_TRUE(parse(userData, trailer(3, sections)));
    EXPECT_EQ(userData.m_sections.size(), 2u);
    const CDataSection &config = userData.m_sections.at(0);
    EXPECT_EQ(config.m_elementCount, 1);
    EXPECT_EQ(config.m_elements.count(5), 0u);
    EXPECT_EQ(config.m_elements.at(1).m_data, "later");
    EXPECT_EQ(userData.m_sectionsSize, (4u + 6 + 12 + 6) + (4 + 6 + 5) + (4 + 6 + 5));
}

TEST(UserData, BodiesKeepNulBytes)
{
    const std::string body("a\0b\0\0c", 6);
    CUserData userData;
    ASSERT_TRUE(parse(userData, trailer(1, section(0, 1, element(1, body)))));
    EXPECT_EQ(userData.m_sections.at(0).m_elements.at(1).m_data, body);
    EXPECT_EQ(userData.m_sections.at(0).m_elements.at(1).m_data.size(), 6u);
}

TEST(UserData, BytesAfterTheTotalLengthAreIgnored)
{
    const std::string bytes = workedExample() + "extra";
    CUserData userData;
    ASSERT_TRUE(parse(userData, bytes));
    EXPECT_EQ(userData.m_totalLength, 40u);
}

TEST(UserData, LengthsBeyondTheDataFail)
{
    std::string oversized = workedExample();
    oversized[23] = '\xff'; // element 1 claims 255 bytes
    CUserData first;
    EXPECT_FALSE(parse(first, oversized));

    std::string huge = workedExample();
    huge.replace(23, 4, "\xfb\xff\xff\xff"); // near 4 GiB: must not wrap around
    CUserData second;
    EXPECT_FALSE(parse(second, huge));

    std::string moreSections = workedExample();
    moreSections[9] = 2; // a second section that is not there
    CUserData third;
    EXPECT_FALSE(parse(third, moreSections));
}

TEST(UserData, IdentifierMustBeExactAtTheStart)
{
    for (const std::string &bytes :
         {std::string("user_data") + workedExample().substr(9), " " + workedExample(), std::string("USER_DAT")}) {
        CUserData userData;
        testing::internal::CaptureStdout();
        EXPECT_FALSE(parse(userData, bytes));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nHeader Identifier not found in data. ");
    }
}
