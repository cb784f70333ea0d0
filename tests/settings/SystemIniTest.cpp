// The settings store of system.ini: load rules, typed reads, writes and the file written back.
#include "TestHome.h"
#include "core/AppError.h"
#include "core/IniFile.h"

#include <QDir>
#include <QStringEncoder>

#include <gtest/gtest.h>

#include <limits>
#include <memory>

namespace {

class SystemIniTest : public ::testing::Test {
protected:
    SystemIniTest() { ini.setPath(home.file(QStringLiteral("system.ini"))); }

    // A second store on the same file sees only what reached the disk.
    QString reloaded(const QString &section, const QString &key)
    {
        IniFile fresh;
        fresh.setPath(ini.path());
        return fresh.readString(section, key, QStringLiteral("<missing>"));
    }

    TestHome home;
    IniFile ini;
};

TEST_F(SystemIniTest, EmptyFolderGivesEveryDefaultAndCreatesNoFile)
{
    EXPECT_EQ(ini.readString("camera", "resolution", "640x480"), "640x480");
    EXPECT_EQ(ini.readString("report", "title", ""), "");
    EXPECT_EQ(ini.readString("report", "doctor", ""), "");
    EXPECT_EQ(ini.readString("report", "proposer", ""), "");
    EXPECT_DOUBLE_EQ(ini.readFloat("measure", "ratio", 0.1), 0.1);
    EXPECT_EQ(ini.readInteger("measure", "height", 480), 480);
    EXPECT_TRUE(ini.readBool("measure", "usenew", true));
    EXPECT_TRUE(ini.readSection("Symptom").isEmpty());
    EXPECT_FALSE(QFile::exists(ini.path()));
}

TEST_F(SystemIniTest, BlanksAroundNamesAndLetterCaseDoNotMatter)
{
    home.write("system.ini", "  [  Camera ]  \r\n   Resolution   =   800x600   \r\n");
    EXPECT_EQ(ini.readString("camera", "resolution", ""), "800x600");
    EXPECT_EQ(ini.readString("CAMERA", "RESOLUTION", ""), "800x600");
}

TEST_F(SystemIniTest, ValueHoldingEqualsIsEverythingAfterTheFirst)
{
    home.write("system.ini", "[report]\ntitle = a=b = c\n");
    EXPECT_EQ(ini.readString("report", "title", ""), "a=b = c");
}

TEST_F(SystemIniTest, WholeSectionKeepsLinesWithoutEqualsAndDropsCommentsAndBlanks)
{
    home.write("system.ini", "orphan=1\n[Symptom]\n1=first\n\n; a comment\n  loose phrase  \n2 = second\n");
    EXPECT_EQ(ini.readSection("symptom"), QStringList({"1=first", "loose phrase", "2=second"}));
    EXPECT_EQ(ini.readString("Symptom", "loose phrase", "none"), "none");
}

TEST_F(SystemIniTest, FileIsWrittenBackNormalisedWithCrLfAndOneBlankLinePerSection)
{
    home.write("system.ini", "lost=1\n[ a ]\n k = v \r\n\r\n;note\nbare\n[b]\nx=1");
    ini.writeString("b", "y", "2");
    EXPECT_EQ(home.read("system.ini"), "[a]\r\nk=v\r\nbare\r\n\r\n[b]\r\nx=1\r\ny=2\r\n\r\n");
}

TEST_F(SystemIniTest, KeyWrittenTwiceKeepsOneLineWithTheLastValue)
{
    ini.writeString("camera", "resolution", "800x600");
    ini.writeString("Camera", "Resolution", "1280x720");
    EXPECT_EQ(ini.readSection("camera"), QStringList({"Resolution=1280x720"}));
    EXPECT_EQ(home.read("system.ini").count("esolution="), 1);
    EXPECT_EQ(reloaded("camera", "resolution"), "1280x720");
}

TEST_F(SystemIniTest, PhraseAddedThenCaptureSizeChangedFileHoldsBoth)
{
    home.write("system.ini", "[Symptom]\n1=gastritis\n[camera]\nresolution=640x480\n");
    ini.writeString("Symptom", "2", "ulcer");
    ini.writeString("camera", "resolution", "1024x768");
    EXPECT_EQ(reloaded("Symptom", "1"), "gastritis");
    EXPECT_EQ(reloaded("Symptom", "2"), "ulcer");
    EXPECT_EQ(reloaded("camera", "resolution"), "1024x768");
}

TEST_F(SystemIniTest, ReadSeesTheLatestWriteAndNotLaterChangesOnDisk)
{
    ini.writeString("report", "doctor", "Li");
    home.write("system.ini", "[report]\ndoctor=Wang\n");
    EXPECT_EQ(ini.readString("report", "doctor", ""), "Li");
}

TEST_F(SystemIniTest, NewPathIsLoadedAtItsFirstUse)
{
    ini.writeString("report", "doctor", "Li");
    home.write("other.ini", "[report]\ndoctor=Wang\n");
    ini.setPath(home.file("other.ini"));
    EXPECT_EQ(ini.readString("report", "doctor", ""), "Wang");
}

TEST_F(SystemIniTest, EraseSectionRemovesItsLinesOnly)
{
    home.write("system.ini", "[Symptom]\n1=a\n2=b\n[Treatment]\n1=rest\n");
    ini.eraseSection("symptom");
    EXPECT_TRUE(ini.readSection("Symptom").isEmpty());
    EXPECT_EQ(home.read("system.ini"), "[Treatment]\r\n1=rest\r\n\r\n");
    ini.writeString("Symptom", "1", "b");
    EXPECT_EQ(reloaded("Symptom", "1"), "b");
    EXPECT_EQ(reloaded("Symptom", "2"), "<missing>");
}

TEST_F(SystemIniTest, LineBreakInValueCannotForgeASection)
{
    ini.writeString("report", "title", "x\r\n[measure]\r\nratio=5");
    EXPECT_EQ(reloaded("measure", "ratio"), "<missing>");
    EXPECT_EQ(ini.readString("report", "title", ""), reloaded("report", "title"));
}

TEST_F(SystemIniTest, Utf8TextSurvivesTheRoundTrip)
{
    ini.writeString("Symptom", "1", "慢性浅表性胃炎");
    EXPECT_EQ(reloaded("Symptom", "1"), "慢性浅表性胃炎");
}

TEST_F(SystemIniTest, Gb18030FileIsReadAndWrittenBackAsUtf8WithMark)
{
    home.write("system.ini", "[Symptom]\n1=\xD6\xD0\xCE\xC4\n"); // "中文" in GB18030
    EXPECT_EQ(ini.readString("Symptom", "1", ""), "中文");
    ini.writeString("Symptom", "2", "胃");
    EXPECT_EQ(home.read("system.ini"), "\xEF\xBB\xBF[Symptom]\r\n1=中文\r\n2=胃\r\n\r\n");
}

// Whatever encoding the file was read in, every value reads back identical after any number
// of saves and loads. The GB18030 file gives itself away only by its comment and the doctor's
// name: once both are gone, its other values ("一些" is D2 BB D0 A9) are valid UTF-8.
TEST(SettingsEncoding, EveryValueReadsBackIdenticalAfterEverySave)
{
    const QString text = QStringLiteral("; 注释\r\n[report]\r\ndoctor=王医生\r\ntitle=Gastroscopy\r\n"
                                        "[Symptom]\r\n1=一些\r\n2=\r\n3=Dr. Li\r\n");
    const auto gb18030 = [](const QString &t) { return QByteArray(QStringEncoder("GB18030").encode(t)); };
    const auto utf16 = [](const QString &t) {
        return QByteArray("\xFF\xFE", 2) + QByteArray(QStringEncoder(QStringEncoder::Utf16LE).encode(t));
    };
    const std::pair<const char *, QByteArray> files[] = {
        {"UTF-8", text.toUtf8()},
        {"UTF-8 with mark", "\xEF\xBB\xBF" + text.toUtf8()},
        {"UTF-16 LE", utf16(text)},
        {"GB18030", gb18030(text)},
    };
    // The doctor changes at each save: to Latin, an emoji, blank, Chinese.
    const QString doctors[] = {QStringLiteral("Li"), QStringLiteral("😀 Li"), QString(), QStringLiteral("王医生")};
    for (const auto &[name, bytes] : files) {
        TestHome home;
        home.write("system.ini", bytes);
        QString doctor = QStringLiteral("王医生");
        for (const QString &next : doctors) {
            IniFile ini;
            ini.setPath(home.file("system.ini"));
            EXPECT_EQ(ini.readString("report", "doctor", "-"), doctor) << name;
            EXPECT_EQ(ini.readString("report", "title", "-"), "Gastroscopy") << name;
            EXPECT_EQ(ini.readSection("Symptom"), QStringList({"1=一些", "2=", "3=Dr. Li"})) << name;
            ini.writeString("report", "doctor", next);
            doctor = next;
        }
    }
}

// Temporary files of a write that a crash cut short are removed when the path is set at the
// next start; files that only look alike are kept.
TEST_F(SystemIniTest, LeftoverTemporaryFilesGoAtTheNextStart)
{
    home.write("system.ini.tmp0123abcd", "[report]\r\n");
    home.write("system.ini.tmp0123abcd.bak", "kept");
    home.write("system.ini.tmpnothexno", "kept");
    home.write("config.ini.tmp0123abcd", "kept");
    IniFile fresh;
    fresh.setPath(ini.path());
    EXPECT_EQ(QDir(home.path()).entryList(QDir::Files, QDir::Name),
              QStringList({"config.ini.tmp0123abcd", "system.ini.tmp0123abcd.bak", "system.ini.tmpnothexno"}));
}

// Each case is read by a fresh store, as the program would after a restart.
class TypedReadTest : public SystemIniTest {
protected:
    std::unique_ptr<IniFile> storeHolding(const QString &text)
    {
        home.write("system.ini", "[measure]\nv=" + text.toUtf8() + "\n");
        auto store = std::make_unique<IniFile>();
        store->setPath(ini.path());
        return store;
    }
};

TEST_F(TypedReadTest, IntegersDecimalAndHexadecimal)
{
    const std::pair<const char *, int> cases[] = {
        {"480", 480},        {"-12", -12},
        {"+5", 5},           {"0x1E0", 480},
        {"0X1e0", 480},      {"0x7FFFFFFF", 2147483647},
        {"480.5", -7},       {"", -7},
        {"0x", -7},          {"abc", -7},
        {"12abc", -7},       {"0x1G", -7},
        {"99999999999", -7}, {"0x100000000", -7},
        {"- 1", -7},         {"-2147483648", std::numeric_limits<int>::min()},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(storeHolding(text)->readInteger("measure", "v", -7), expected) << text;
}

// A decimal comma is what a hand-edited file (or one of a system set to it) holds.
TEST_F(TypedReadTest, DecimalNumbersUseAFullStopOrAComma)
{
    const std::pair<const char *, double> cases[] = {
        {"0.25", 0.25}, {"480", 480},   {"-1.5", -1.5},  {".5", 0.5},       {"1e3", 1000}, {"2.5E-2", 0.025},
        {"1,5", 1.5},   {"0,05", 0.05}, {"1,2,3", -7.5}, {"1.000,5", -7.5}, {"", -7.5},    {"abc", -7.5},
        {"nan", -7.5},  {"inf", -7.5},  {"1e999", -7.5}, {"1.2.3", -7.5},   {"e5", -7.5},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_DOUBLE_EQ(storeHolding(text)->readFloat("measure", "v", -7.5), expected) << text;
}

TEST_F(TypedReadTest, YesNoIsAnyNonZeroInteger)
{
    EXPECT_FALSE(storeHolding("0")->readBool("measure", "v", true));
    EXPECT_TRUE(storeHolding("2")->readBool("measure", "v", false));
    EXPECT_TRUE(storeHolding("-1")->readBool("measure", "v", false));
    EXPECT_TRUE(storeHolding("no")->readBool("measure", "v", true));
    EXPECT_FALSE(storeHolding("no")->readBool("measure", "v", false));
}

TEST_F(SystemIniTest, HeightWrittenAsDecimalReadsBackAsInteger)
{
    ini.writeFloat("measure", "height", 480);
    ini.writeFloat("measure", "ratio", 0.1);
    EXPECT_EQ(home.read("system.ini"), "[measure]\r\nheight=480\r\nratio=0.1\r\n\r\n");
    IniFile fresh;
    fresh.setPath(ini.path());
    EXPECT_EQ(fresh.readInteger("measure", "height", 0), 480);
    EXPECT_DOUBLE_EQ(fresh.readFloat("measure", "ratio", 0), 0.1);
}

TEST(FormatFloat, GeneralFormatWithFifteenSignificantDigits)
{
    const std::pair<double, const char *> cases[] = {
        {480, "480"},
        {0.1, "0.1"},
        {0, "0"},
        {-2.5, "-2.5"},
        {1.0 / 3, "0.333333333333333"},
        {2.0 / 3, "0.666666666666667"},
        {0.1 + 0.2, "0.3"},
        {0.00001, "0.00001"},
        {0.0000123, "0.0000123"},
        {0.000001, "1E-6"},
        {-0.0000015, "-1.5E-6"},
        {123456789012345, "123456789012345"},
        {999999999999999, "999999999999999"},
        {1e15, "1E15"},
        {1.5e20, "1.5E20"},
        {1234567.125, "1234567.125"},
        {100, "100"},
    };
    for (const auto &[value, expected] : cases)
        EXPECT_EQ(IniFile::formatFloat(value), expected) << value;
}

} // namespace
