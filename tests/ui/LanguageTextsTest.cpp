#include "ui/LanguageTexts.h"

#include "ScriptedDialogs.h"
#include "TestHome.h"
#include "core/ErrorDisplay.h"
#include "core/inifunc.h"
#include "ui/RotatedLabel.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const kLabels[] = {"lbInputInfo", "lbNumber", "lbName",     "lbSex",     "lbAge",
                               "lbTel",       "lbAddr",   "lbPic",      "lbSypmtom", "lbTreat",
                               "lbLang",      "lbTitle",  "lbProposer", "lbDoctor",  "lbResulutionCap"};
const char *const kButtons[] = {"btnNew",        "btnGenReport", "btnPrevReport",  "btnGetPhoto", "btnPrint",
                                "btnCameraProp", "btnOpenVideo", "btnCalibration", "btnRecord"};
const char *const kPanelButtons[] = {"btnGray", "btnTurnLeft", "btnTurnRight", "btnMline", "btnSave", "btnBack"};

// The controls of the main window and the processing panel that carry language texts, named
// as the window names them.
struct WindowTree {
    WindowTree()
    {
        window.setObjectName(QStringLiteral("frmMain"));
        for (const char *name : kLabels)
            (new QLabel(&window))->setObjectName(QLatin1String(name));
        for (const char *name : kButtons)
            (new QPushButton(&window))->setObjectName(QLatin1String(name));
        for (const char *name : kPanelButtons)
            (new QPushButton(&panel))->setObjectName(QLatin1String(name));
        cbSex = new QComboBox(&window);
        cbSex->setObjectName(QStringLiteral("cbSex"));
        cbLang = new QComboBox(&window);
        cbLang->setObjectName(QStringLiteral("cbLang"));
        cbLang->setEditable(true);
        const QRect stacked[] = {{4, 30, 11, 120}, {4, 300, 18, 60}, {4, 500, 18, 70}};
        const int rotatedHeights[] = {257, 145, 79};
        const char *const names[] = {"lbPic", "lbSypmtom", "lbTreat"};
        for (int i = 0; i < 3; ++i) {
            label(names[i])->setGeometry(stacked[i]);
            rotated[i] = new RotatedLabel(&window);
            rotated[i]->setObjectName(QLatin1String(names[i]) + QStringLiteral("_an"));
            rotated[i]->setGeometry(200, 10, 16, rotatedHeights[i]);
        }
    }

    QLabel *label(const char *name) { return window.findChild<QLabel *>(QLatin1String(name)); }
    QPushButton *button(const char *name) { return window.findChild<QPushButton *>(QLatin1String(name)); }
    QPushButton *panelButton(const char *name) { return panel.findChild<QPushButton *>(QLatin1String(name)); }

    QWidget window;
    QWidget panel;
    QComboBox *cbSex;
    QComboBox *cbLang;
    RotatedLabel *rotated[3];
};

QByteArray utf16File(const QString &text)
{
    QByteArray bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    return bytes;
}

} // namespace

class LanguageTextsTest : public ::testing::Test {
protected:
    LanguageTextsTest() { home.installLanguageFiles(); }

    // The operator picks entry index of the language box; the window runs the reaction under
    // the error display.
    void pick(int index)
    {
        tree.cbLang->setCurrentIndex(index);
        ErrorDisplay::guarded([this] { texts.cbLangChange(); });
    }

    int indexOf(const QString &fileName) const { return tree.cbLang->findData(fileName); }

    TestHome home;
    ScriptedDialogs dialogs;
    WindowTree tree;
    bool recording = false;
    LanguageTexts texts{&tree.window, &tree.panel, [this] { return recording; }};
};

TEST_F(LanguageTextsTest, ShippedFilesAreListedAndEnglishIsTheDefault)
{
    texts.applyRememberedLanguage();
    ASSERT_EQ(tree.cbLang->count(), 10);
    EXPECT_EQ(tree.cbLang->itemText(0), QStringLiteral("中文"));
    EXPECT_EQ(tree.cbLang->itemData(0).toString(), QStringLiteral("chinese.ini"));
    EXPECT_EQ(tree.cbLang->itemText(1), QStringLiteral("English"));
    EXPECT_EQ(tree.cbLang->itemData(1).toString(), QStringLiteral("english.ini"));

    EXPECT_EQ(tree.cbLang->currentText(), QStringLiteral("English"));
    EXPECT_EQ(tree.cbLang->currentIndex(), 1);
    EXPECT_EQ(tree.window.windowTitle(), QStringLiteral("ExamStation"));
    EXPECT_EQ(tree.label("lbNumber")->text(), QStringLiteral("Number"));
    EXPECT_EQ(tree.button("btnGenReport")->text(), QStringLiteral("Generate Report"));
    EXPECT_EQ(tree.button("btnRecord")->text(), QStringLiteral("Record"));
    EXPECT_EQ(tree.panelButton("btnTurnLeft")->text(), QStringLiteral("Turn Left"));
    EXPECT_EQ(tree.cbSex->count(), 2);
    EXPECT_EQ(tree.cbSex->itemText(1), QStringLiteral("Female"));
    EXPECT_EQ(texts.text(QStringLiteral("OK.Caption")), QStringLiteral("OK"));
}

TEST_F(LanguageTextsTest, ChoosingChineseIsRememberedAndChangesEveryText)
{
    texts.applyRememberedLanguage();
    pick(indexOf(QStringLiteral("chinese.ini")));
    EXPECT_EQ(ReadConfigString(QStringLiteral("language"), QStringLiteral("name"), QString()),
              QStringLiteral("chinese.ini"));
    EXPECT_EQ(tree.cbLang->currentText(), QStringLiteral("中文"));
    EXPECT_EQ(tree.label("lbInputInfo")->text(), QStringLiteral("输入资料"));
    EXPECT_EQ(tree.label("lbSypmtom")->text(), QStringLiteral("诊    断"));
    EXPECT_EQ(tree.label("lbResulutionCap")->text(), QStringLiteral("分辨率："));
    EXPECT_EQ(tree.button("btnPrint")->text(), QStringLiteral("打印报告"));
    EXPECT_EQ(tree.panelButton("btnBack")->text(), QStringLiteral("返回"));
    EXPECT_EQ(texts.text(QStringLiteral("frmMeasure.Caption")), QStringLiteral("测量校准"));
    EXPECT_EQ(texts.message(QStringLiteral("Msg_print_report")), QStringLiteral("确定要打印报告吗？"));

    // The next start applies the remembered choice.
    WindowTree restarted;
    LanguageTexts again(&restarted.window, &restarted.panel);
    again.applyRememberedLanguage();
    EXPECT_EQ(restarted.button("btnNew")->text(), QStringLiteral("+"));
    EXPECT_EQ(restarted.label("lbName")->text(), QStringLiteral("姓名"));

    pick(indexOf(QStringLiteral("english.ini")));
    EXPECT_EQ(tree.label("lbInputInfo")->text(), QStringLiteral("Patient"));
}

TEST_F(LanguageTextsTest, SideLabelFormsFollowTheDisplayName)
{
    texts.applyRememberedLanguage();
    const char *const names[] = {"lbPic", "lbSypmtom", "lbTreat"};
    const int heights[] = {257, 145, 79};
    for (int i = 0; i < 3; ++i) {
        QLabel *stacked = tree.label(names[i]);
        EXPECT_TRUE(stacked->isHidden());
        EXPECT_FALSE(tree.rotated[i]->isHidden());
        // In the stacked label's place, and as wide as the text's line where that is narrower.
        const int width = qMax(stacked->width(), tree.rotated[i]->sizeHint().width());
        EXPECT_EQ(tree.rotated[i]->geometry(), QRect(stacked->x(), stacked->y(), width, heights[i]));
        EXPECT_EQ(tree.rotated[i]->text(), stacked->text());
    }
    EXPECT_EQ(tree.rotated[0]->text(), QStringLiteral("Findings"));

    pick(indexOf(QStringLiteral("chinese.ini")));
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(tree.label(names[i])->isHidden());
        EXPECT_TRUE(tree.rotated[i]->isHidden());
    }
}

TEST_F(LanguageTextsTest, RecordButtonFollowsTheRecordingFlag)
{
    texts.applyRememberedLanguage();
    recording = true;
    pick(indexOf(QStringLiteral("chinese.ini")));
    EXPECT_EQ(tree.button("btnRecord")->text(), QStringLiteral("停止录像"));
    EXPECT_EQ(texts.recordCaption(false), QStringLiteral("录像"));
    recording = false;
    pick(indexOf(QStringLiteral("english.ini")));
    EXPECT_EQ(tree.button("btnRecord")->text(), QStringLiteral("Record"));
    EXPECT_EQ(texts.recordCaption(true), QStringLiteral("Stop Recording"));
}

TEST_F(LanguageTextsTest, SexSelectorIsRefilledWithTheFirstChoiceSelected)
{
    texts.applyRememberedLanguage();
    tree.cbSex->setCurrentIndex(1);
    pick(indexOf(QStringLiteral("chinese.ini")));
    ASSERT_EQ(tree.cbSex->count(), 2);
    EXPECT_EQ(tree.cbSex->itemText(0), QStringLiteral("男"));
    EXPECT_EQ(tree.cbSex->itemText(1), QStringLiteral("女"));
    EXPECT_EQ(tree.cbSex->currentIndex(), 0);
}

TEST_F(LanguageTextsTest, MessagesAreShownByKeyInTheirKindOfBox)
{
    texts.applyRememberedLanguage();
    dialogs.answer(Dialogs::Answer::Yes);
    EXPECT_EQ(texts.showMessage(QStringLiteral("Msg_print_report")), Dialogs::Answer::Yes);
    texts.showMessage(QStringLiteral("Msg_input_doctor"));
    texts.showMessage(QStringLiteral("Msg_Submit_Failed"));
    ASSERT_EQ(dialogs.boxes().size(), 3);
    EXPECT_EQ(dialogs.boxes()[0].kind, Dialogs::Kind::Question);
    EXPECT_EQ(dialogs.boxes()[0].text, QStringLiteral("Print the report?"));
    EXPECT_EQ(dialogs.boxes()[1].kind, Dialogs::Kind::Warning);
    EXPECT_EQ(dialogs.boxes()[1].text, QStringLiteral("Please enter the diagnosing doctor."));
    EXPECT_EQ(dialogs.boxes()[2].kind, Dialogs::Kind::Error);
}

TEST_F(LanguageTextsTest, TypedTextInTheLanguageBoxDoesNothing)
{
    texts.applyRememberedLanguage();
    tree.cbLang->setCurrentIndex(indexOf(QStringLiteral("chinese.ini")));
    tree.cbLang->setEditText(QStringLiteral("Deutsch"));
    texts.cbLangChange();
    EXPECT_FALSE(QFile::exists(home.file(QStringLiteral("config.ini"))));
    EXPECT_EQ(tree.label("lbNumber")->text(), QStringLiteral("Number"));
}

TEST_F(LanguageTextsTest, UnwritableConfigShowsTheErrorAndKeepsTheLanguage)
{
    texts.applyRememberedLanguage();
    // A folder in the place of config.ini refuses every write, whoever runs the test.
    QDir().mkpath(home.file(QStringLiteral("config.ini")));
    pick(indexOf(QStringLiteral("chinese.ini")));
    ASSERT_EQ(dialogs.boxes().size(), 1);
    EXPECT_EQ(dialogs.boxes()[0].kind, Dialogs::Kind::Error);
    EXPECT_TRUE(dialogs.boxes()[0].text.startsWith(QStringLiteral("Unable to write to ")));
    EXPECT_TRUE(dialogs.boxes()[0].text.contains(QStringLiteral("config.ini")));
    EXPECT_EQ(tree.label("lbNumber")->text(), QStringLiteral("Number"));
}

class LanguageFileRulesTest : public ::testing::Test {
protected:
    TestHome home;
    ScriptedDialogs dialogs;
    WindowTree tree;
    LanguageTexts texts{&tree.window, &tree.panel};
};

TEST_F(LanguageFileRulesTest, ListingSortsWithoutCaseAndDefaultsTheDisplayName)
{
    home.write(QStringLiteral("lang/b.ini"), "[lang]\r\ndisplayname=Bravo\r\n");
    home.write(QStringLiteral("lang/A.INI"), "[Lang]\r\ndisplayname=Alpha\r\n");
    home.write(QStringLiteral("lang/c.ini"), "[main]\r\nlbNumber.Caption=No\r\n");
    home.write(QStringLiteral("lang/readme.txt"), "not a language");
    QDir().mkpath(home.file(QStringLiteral("lang/sub.ini")));
    texts.ListLanguageFiles();
    ASSERT_EQ(tree.cbLang->count(), 3);
    EXPECT_EQ(tree.cbLang->itemText(0), QStringLiteral("Alpha"));
    EXPECT_EQ(tree.cbLang->itemText(1), QStringLiteral("Bravo"));
    EXPECT_EQ(tree.cbLang->itemText(2), QStringLiteral("English"));

    // Applied, a file without a display name leaves the box's text empty.
    texts.ApplyLanguage(QStringLiteral("c.ini"));
    EXPECT_EQ(tree.cbLang->currentText(), QString());
    EXPECT_EQ(tree.label("lbNumber")->text(), QStringLiteral("No"));
}

TEST_F(LanguageFileRulesTest, MissingFolderOrFileGivesTheBuiltInEnglishTexts)
{
    tree.label("lbNumber")->setText(QStringLiteral("编号"));
    tree.button("btnPrint")->setText(QStringLiteral("打印报告"));
    texts.applyRememberedLanguage();
    EXPECT_EQ(tree.cbLang->count(), 0);
    EXPECT_EQ(tree.label("lbNumber")->text(), QStringLiteral("Number"));
    EXPECT_EQ(tree.button("btnPrint")->text(), QStringLiteral("Print Report"));
}

// A name leading out of lang/ is never read, and a missing or empty file gives english.ini.
TEST_F(LanguageFileRulesTest, NameOutsideTheFolderOrUnusableFileGivesEnglish)
{
    home.write(QStringLiteral("outside.ini"), "[main]\r\nlbNumber.Caption=Outside\r\n");
    home.write(QStringLiteral("lang/english.ini"), "[main]\r\nlbNumber.Caption=Number\r\n");
    home.write(QStringLiteral("lang/empty.ini"), "");
    for (const QString &name : {QStringLiteral("../outside.ini"), home.file(QStringLiteral("outside.ini")),
                                QStringLiteral("gone.ini"), QStringLiteral("empty.ini")}) {
        tree.label("lbNumber")->setText(QString());
        texts.ApplyLanguage(name);
        EXPECT_EQ(tree.label("lbNumber")->text(), QStringLiteral("Number")) << name.toStdString();
    }
}

TEST_F(LanguageFileRulesTest, DoctorLabelKeyIsFoundWithOrWithoutItsBlank)
{
    home.write(QStringLiteral("lang/x.ini"), "[main]\r\nlbOne_doctor.Caption=Arzt\r\n");
    home.write(QStringLiteral("lang/y.ini"), "[MAIN]\r\n  lbOne_doctor.Caption  = Médecin\r\n");
    texts.ApplyLanguage(QStringLiteral("x.ini"));
    EXPECT_EQ(texts.text(QStringLiteral("lbOne_doctor.Caption ")), QStringLiteral("Arzt"));
    texts.ApplyLanguage(QStringLiteral("y.ini"));
    EXPECT_EQ(texts.text(QStringLiteral("lbOne_doctor.Caption ")), QStringLiteral("Médecin"));
    EXPECT_EQ(texts.text(QStringLiteral("lbOne_doctor.Caption")), QStringLiteral("Médecin"));
}

TEST_F(LanguageFileRulesTest, LabelTextIsNeverMarkup)
{
    home.write(QStringLiteral("lang/x.ini"), "[main]\r\nlbName.Caption=<b>Name</b>\r\n");
    texts.ApplyLanguage(QStringLiteral("x.ini"));
    EXPECT_EQ(tree.label("lbName")->textFormat(), Qt::PlainText);
}

// Side words of Han, kana or Hangul characters stand upright, one character per line; a side
// word in another script turns the labels on their side.
TEST_F(LanguageFileRulesTest, Utf16FileWithJapaneseSideWordsStacksThem)
{
    home.write(QStringLiteral("lang/ja.ini"),
               utf16File(QStringLiteral("[Lang]\r\ndisplayname=日本語\r\n[main]\r\nlbPic.Caption=所見\r\n"
                                        "lbSypmtom.Caption=診断\r\nlbTreat.Caption=처치\r\n")));
    texts.ApplyLanguage(QStringLiteral("ja.ini"));
    EXPECT_EQ(tree.cbLang->currentText(), QStringLiteral("日本語"));
    EXPECT_FALSE(tree.label("lbPic")->isHidden());
    EXPECT_TRUE(tree.rotated[0]->isHidden());
    EXPECT_EQ(tree.label("lbPic")->text(), QStringLiteral("所見"));

    home.write(QStringLiteral("lang/ja.ini"),
               utf16File(QStringLiteral("[Lang]\r\ndisplayname=日本語\r\n[main]\r\nlbPic.Caption=所見\r\n"
                                        "lbSypmtom.Caption=診断\r\nlbTreat.Caption=Rx\r\n")));
    texts.ApplyLanguage(QStringLiteral("ja.ini"));
    EXPECT_TRUE(tree.label("lbPic")->isHidden());
    EXPECT_EQ(tree.rotated[0]->text(), QStringLiteral("所見"));
}

// A pipe named as the language file has no writer; opening it to read would wait forever.
TEST_F(LanguageFileRulesTest, PipeAsLanguageFileIsPassedOverWithoutWaiting)
{
    tree.label("lbNumber")->setText(QStringLiteral("编号"));
    QDir().mkpath(home.file(QStringLiteral("lang")));
    ASSERT_EQ(mkfifo(QFile::encodeName(home.file(QStringLiteral("lang/pipe.ini"))).constData(), 0600), 0);
    texts.ApplyLanguage(QStringLiteral("pipe.ini"));
    EXPECT_EQ(tree.label("lbNumber")->text(), QStringLiteral("Number"));
}

// A language file can be large; one change of language opens it once, not once per text.
TEST_F(LanguageFileRulesTest, ApplyingALanguageOpensItsFileOnce)
{
    home.installLanguageFiles();
    const QByteArray file = QFile::encodeName(home.file(QStringLiteral("lang/english.ini")));
    const int watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watcher, 0);
    // Closes are watched too: identical events in a row would be merged into one.
    ASSERT_GE(inotify_add_watch(watcher, file.constData(), IN_OPEN | IN_CLOSE), 0);
    texts.ApplyLanguage(QStringLiteral("english.ini"));
    int opens = 0;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = read(watcher, buffer, sizeof buffer)) > 0;) {
        for (char *at = buffer; at < buffer + n;
             at += sizeof(inotify_event) + reinterpret_cast<inotify_event *>(at)->len)
            opens += (reinterpret_cast<inotify_event *>(at)->mask & IN_OPEN) != 0;
    }
    close(watcher);
    EXPECT_EQ(opens, 1);
    EXPECT_FALSE(tree.label("lbNumber")->text().isEmpty());
}

// Every key the window reads is in english.ini, and every shipped file holds exactly the keys
// english.ini holds: a key added to english.ini and not yet translated is named here.
TEST(ShippedLanguageFiles, HoldExactlyTheKeysOfEnglish)
{
    const QStringList files = TestHome::shippedLanguages();
    EXPECT_EQ(files.size(), 10) << files.join(u' ').toStdString();
    const QMap<QString, QString> english = TestHome::shippedLanguageTexts(QStringLiteral("english.ini"));
    const QStringList keys = LanguageTexts::allKeys();
    EXPECT_EQ(keys.size(), 72);
    for (const QString &key : keys)
        EXPECT_TRUE(english.contains(QStringLiteral("main/") + key.trimmed())) << key.toStdString();
    QStringList displayNames;
    for (const QString &name : files) {
        const QMap<QString, QString> texts = TestHome::shippedLanguageTexts(name);
        for (const QString &key : english.keys()) {
            EXPECT_TRUE(texts.contains(key)) << name.toStdString() << " lacks " << key.toStdString();
            EXPECT_FALSE(texts.value(key).isEmpty()) << name.toStdString() << ": " << key.toStdString();
        }
        for (const QString &key : texts.keys())
            EXPECT_TRUE(english.contains(key)) << name.toStdString() << " has " << key.toStdString();
        // As the window reads the file: every key found by the profile functions.
        const QString path = qEnvironmentVariable("EXAMSTATION_LANG_DIR") + u'/' + name;
        for (const QString &key : keys)
            EXPECT_EQ(ReadProfileString(path, QStringLiteral("main"), key, QString()),
                      texts.value(QStringLiteral("main/") + key.trimmed()))
                << name.toStdString() << ": " << key.toStdString();
        displayNames << ReadProfileString(path, QStringLiteral("lang"), QStringLiteral("displayname"), QString());
    }
    // Each language by its own name, in its own script.
    EXPECT_EQ(displayNames,
              QStringList({"中文", "English", "Français", "Deutsch", "Italiano", "日本語", "한국어",
                           "Português (Brasil)", "Русский", "Español"}));
}
