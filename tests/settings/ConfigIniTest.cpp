// config.ini and the other profile files: every read from disk, one key changed in place.
#include "TestHome.h"
#include "core/AppError.h"
#include "core/inifunc.h"

#include <QStringEncoder>

#include <gtest/gtest.h>

namespace {

class ConfigIniTest : public ::testing::Test {
protected:
    QByteArray config() const { return home.read("config.ini"); }
    void setConfig(const QByteArray &content) const { home.write("config.ini", content); }

    TestHome home;
};

TEST_F(ConfigIniTest, EmptyFolderGivesEveryDefaultAndCreatesNoFile)
{
    EXPECT_EQ(ConfigFilePath(), home.file("config.ini"));
    EXPECT_EQ(ReadConfigString("system", "camindex", "0"), "0");
    EXPECT_EQ(ReadConfigString("system", "format", "0"), "0");
    EXPECT_EQ(ReadConfigString("system", "url", ""), "");
    EXPECT_EQ(ReadConfigString("language", "name", "english.ini"), "english.ini");
    EXPECT_FALSE(QFile::exists(home.file("config.ini")));
}

TEST_F(ConfigIniTest, BlanksAroundNamesAndLetterCaseDoNotMatter)
{
    setConfig("; installation\r\n  [ System ]  \r\n  CamIndex  =  2  \r\n\tformat\t=\t3\r\n");
    EXPECT_EQ(ReadConfigString("system", "camindex", "0"), "2");
    EXPECT_EQ(ReadConfigString(" SYSTEM ", " FORMAT ", "0"), "3");
}

TEST_F(ConfigIniTest, EveryReadSeesTheFileAsItIsNow)
{
    setConfig("[language]\nname=a.ini\n");
    EXPECT_EQ(ReadConfigString("language", "name", ""), "a.ini");
    setConfig("[language]\nname=b.ini\n");
    EXPECT_EQ(ReadConfigString("language", "name", ""), "b.ini");
}

TEST_F(ConfigIniTest, OnePairOfMatchingQuotesIsStripped)
{
    setConfig("[s]\na=\"two words\"\nb='x'\nc=\"mixed'\nd=\"\ne=\"\"inner\"\"\nf= \"padded\" \n");
    EXPECT_EQ(ReadConfigString("s", "a", ""), "two words");
    EXPECT_EQ(ReadConfigString("s", "b", ""), "x");
    EXPECT_EQ(ReadConfigString("s", "c", ""), "\"mixed'");
    EXPECT_EQ(ReadConfigString("s", "d", ""), "\"");
    EXPECT_EQ(ReadConfigString("s", "e", ""), "\"inner\"");
    EXPECT_EQ(ReadConfigString("s", "f", ""), "padded");
}

TEST_F(ConfigIniTest, ValueHoldingEqualsAndSectionBoundaries)
{
    setConfig("[system]\nurl=a=b\n[other]\nformat=9\n");
    EXPECT_EQ(ReadConfigString("system", "url", ""), "a=b");
    EXPECT_EQ(ReadConfigString("system", "format", "0"), "0");
}

TEST_F(ConfigIniTest, ConfigReadsAreCutTo255AndProfileReadsTo2047)
{
    QString value;
    for (int i = 0; i < 3000; ++i)
        value += QChar(u'a' + i % 26);
    setConfig("[system]\nurl=" + value.toUtf8() + "\n");
    EXPECT_EQ(ReadConfigString("system", "url", ""), value.left(255));
    EXPECT_EQ(ReadProfileString(home.file("config.ini"), "system", "url", ""), value.left(2047));
}

TEST_F(ConfigIniTest, CutNeverSplitsACharacterPair)
{
    const QString face = QStringLiteral("\U0001F600");
    setConfig("[system]\nurl=" + (QString(254, u'a') + face).toUtf8() + "\n");
    EXPECT_EQ(ReadConfigString("system", "url", ""), QString(254, u'a'));
}

TEST_F(ConfigIniTest, WriteChangesOneKeyAndKeepsEveryOtherLine)
{
    setConfig("; installed by setup\r\n[system]\r\ncamindex=1\r\n\r\n[Language]\r\n"
              "; picked by the operator\r\n  Name = english.ini  \r\nother=1\r\n\r\n");
    WriteConfigString("language", "name", "chinese.ini");
    EXPECT_EQ(config(),
              "; installed by setup\r\n[system]\r\ncamindex=1\r\n\r\n[Language]\r\n"
              "; picked by the operator\r\nname=chinese.ini\r\nother=1\r\n\r\n");
    EXPECT_EQ(ReadConfigString("language", "name", ""), "chinese.ini");
}

TEST_F(ConfigIniTest, KeyWrittenTwiceKeepsOneLine)
{
    WriteConfigString("language", "name", "a.ini");
    WriteConfigString("Language", "NAME", "b.ini");
    EXPECT_EQ(config(), "[language]\r\nNAME=b.ini\r\n");
}

TEST_F(ConfigIniTest, MissingKeyGoesAtTheEndOfItsSectionBeforeTheBlankLines)
{
    setConfig("[language]\nold=1\n\n[system]\ncamindex=0");
    WriteConfigString("language", "name", "x.ini");
    WriteConfigString("system", "format", "2");
    WriteConfigString("new", "key", "v");
    EXPECT_EQ(config(), "[language]\nold=1\nname=x.ini\n\n[system]\ncamindex=0\nformat=2\n[new]\nkey=v\n");
}

TEST_F(ConfigIniTest, LineBreakInValueStaysOnItsLine)
{
    WriteConfigString("system", "url", "a\r\n[language]\r\nname=evil.ini");
    EXPECT_EQ(ReadConfigString("language", "name", "english.ini"), "english.ini");
}

class ProfileEncodingTest : public ConfigIniTest { };

TEST_F(ProfileEncodingTest, Utf16LeFileIsReadAndStaysUtf16Le)
{
    QStringEncoder utf16(QStringEncoder::Utf16LE);
    setConfig("\xFF\xFE" + QByteArray(utf16.encode(u"[language]\r\nname=中文.ini\r\n")));
    EXPECT_EQ(ReadConfigString("language", "name", ""), "中文.ini");
    WriteConfigString("language", "name", "日本語.ini");
    EXPECT_EQ(config(), "\xFF\xFE" + QByteArray(utf16.encode(u"[language]\r\nname=日本語.ini\r\n")));
}

TEST_F(ProfileEncodingTest, Utf8WithByteOrderMarkKeepsIt)
{
    setConfig("\xEF\xBB\xBF[language]\nname=中文.ini\n");
    EXPECT_EQ(ReadConfigString("language", "name", ""), "中文.ini");
    WriteConfigString("system", "camindex", "1");
    EXPECT_EQ(config(), "\xEF\xBB\xBF[language]\nname=中文.ini\n[system]\ncamindex=1\n");
}

// Written back as GB18030, a file whose only non-UTF-8 bytes were in the key replaced would be
// misread at the next load; UTF-8 with a mark reads back the same for certain.
TEST_F(ProfileEncodingTest, InvalidUtf8IsReadAsGb18030AndWrittenBackAsUtf8WithMark)
{
    setConfig("[language]\r\nname=\xD6\xD0\xCE\xC4.ini\r\n"); // "中文.ini" in GB18030
    EXPECT_EQ(ReadConfigString("language", "name", ""), "中文.ini");
    WriteConfigString("system", "url", "胃");
    EXPECT_EQ(config(), "\xEF\xBB\xBF[language]\r\nname=中文.ini\r\n[system]\r\nurl=胃\r\n");
}

TEST_F(ProfileEncodingTest, NewFileIsUtf8WithoutByteOrderMark)
{
    WriteConfigString("language", "name", "中文.ini");
    EXPECT_EQ(config(), "[language]\r\nname=中文.ini\r\n");
}

TEST_F(ProfileEncodingTest, ProfileWriteOfAnyFileReportsSuccess)
{
    const QString file = home.file("lang/test.ini");
    home.write("lang/test.ini", "[strings]\nMsg_a=1\n");
    EXPECT_TRUE(WriteProfileString(file, "strings", "Msg_b", "2"));
    EXPECT_EQ(ReadProfileString(file, "STRINGS", "msg_b", ""), "2");
    EXPECT_FALSE(WriteProfileString(home.file("missing/folder/test.ini"), "s", "k", "v"));
}

} // namespace

TEST(SettingsIntegerTest, DecimalHexadecimalAndRefusedValues)
{
    const std::pair<const char *, int> accepted[] = {
        {"0", 0},    {" 7", 7},    {"-12", -12}, {"+3", 3},
        {"$1E", 30}, {"0x1e", 30}, {"\t42", 42}, {"2147483647", 2147483647}};
    for (const auto &[text, value] : accepted)
        EXPECT_EQ(toInteger(QString::fromLatin1(text)), value) << text;
    for (const char *text : {"", " ", "7 ", "1.5", "$", "0x", "12a", "2147483648", "-2147483649", "１２"})
        EXPECT_THROW(toInteger(QString::fromUtf8(text)), AppError) << text;
}
