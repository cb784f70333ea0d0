// The language box of the main window: the operator's choice changes the window's texts and
// side labels, is remembered in config.ini for the next start, and reaches the patient grid.
#include "WindowFixture.h"
#include "core/inifunc.h"
#include "ui/FittingLabel.h"
#include "ui/RotatedLabel.h"

#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTableView>

namespace {

class LanguageWindow : public WindowTest {
protected:
    QString rememberedLanguage() const
    {
        return ReadConfigString(QStringLiteral("language"), QStringLiteral("name"), QStringLiteral("(none)"));
    }

    QStringList gridTitles() const
    {
        QStringList titles;
        const QAbstractItemModel *rows = window->clientGrid->model();
        for (int column = 0; column < rows->columnCount(); ++column)
            titles << rows->headerData(column, Qt::Horizontal).toString();
        return titles;
    }

    // Empties the name field and types it anew, so the grid is set up again.
    void searchName(const QString &name)
    {
        window->edtName->clear();
        typeInto(window->edtName, name);
    }

    void expectStackedSideLabels() const
    {
        EXPECT_TRUE(window->lbPic->isVisible());
        EXPECT_TRUE(window->lbSypmtom->isVisible());
        EXPECT_TRUE(window->lbTreat->isVisible());
        EXPECT_FALSE(window->lbPic_an->isVisible());
        EXPECT_FALSE(window->lbSypmtom_an->isVisible());
        EXPECT_FALSE(window->lbTreat_an->isVisible());
    }

    // Each rotated label stands where its stacked twin would, with the same text.
    void expectRotatedSideLabels() const
    {
        const std::pair<QLabel *, RotatedLabel *> twins[] = {
            {window->lbPic, window->lbPic_an},
            {window->lbSypmtom, window->lbSypmtom_an},
            {window->lbTreat, window->lbTreat_an},
        };
        for (const auto &[stacked, rotated] : twins) {
            EXPECT_FALSE(stacked->isVisible()) << stacked->objectName().toStdString();
            EXPECT_TRUE(rotated->isVisible()) << rotated->objectName().toStdString();
            EXPECT_EQ(rotated->pos(), stacked->pos()) << rotated->objectName().toStdString();
            EXPECT_GE(rotated->width(), stacked->width()) << rotated->objectName().toStdString();
            EXPECT_EQ(rotated->text(), stacked->text()) << rotated->objectName().toStdString();
        }
    }
};

TEST_F(LanguageWindow, aFirstStartListsEveryLanguageAndShowsEnglishWithRotatedSideLabels)
{
    ASSERT_EQ(window->cbLang->count(), 10);
    EXPECT_EQ(window->cbLang->itemText(0), QStringLiteral("中文"));
    EXPECT_EQ(window->cbLang->itemText(1), QStringLiteral("English"));
    EXPECT_EQ(window->cbLang->currentText(), QStringLiteral("English"));
    EXPECT_EQ(window->lbNumber->text(), QStringLiteral("Number"));
    EXPECT_EQ(window->lbPic->text(), QStringLiteral("Findings"));
    expectRotatedSideLabels();
    EXPECT_EQ(rememberedLanguage(), QStringLiteral("(none)"));
}

// The box's current entry is the language shown: the arrow keys step from it to its neighbours.
TEST_F(LanguageWindow, theArrowKeysStepFromTheLanguageShown)
{
    window->cbLang->setFocus();
    QTest::keyClick(window->cbLang, Qt::Key_Down);
    EXPECT_EQ(window->cbLang->currentText(), QStringLiteral("Français"));
    EXPECT_EQ(rememberedLanguage(), QStringLiteral("french.ini"));
    EXPECT_EQ(window->lbNumber->text(), QStringLiteral("Numéro"));
    QTest::keyClick(window->cbLang, Qt::Key_Up);
    EXPECT_EQ(rememberedLanguage(), QStringLiteral("english.ini"));
    EXPECT_EQ(window->lbNumber->text(), QStringLiteral("Number"));
}

// Through all languages and back to the first: config.ini names the last one chosen and keeps
// every other line as it was.
TEST_F(LanguageWindow, switchingThroughEveryLanguageChangesOnlyTheRememberedName)
{
    home.write(QStringLiteral("config.ini"),
               "; this room\r\n[language]\r\nname=chinese.ini\r\n[camera]\r\n"
               "device=/dev/video7\r\n\r\n[report]\r\ntitle=Gastroskopie\r\n");
    const QByteArray before = home.read(QStringLiteral("config.ini"));
    openWindow();
    ASSERT_EQ(window->cbLang->currentText(), QStringLiteral("中文"));
    for (int index = 1; index <= window->cbLang->count(); ++index) {
        const int entry = index % window->cbLang->count();
        choose(window->cbLang, window->cbLang->itemText(entry));
        EXPECT_EQ(rememberedLanguage(), window->cbLang->itemData(entry).toString());
        EXPECT_EQ(window->cbLang->currentIndex(), entry);
    }
    EXPECT_EQ(home.read(QStringLiteral("config.ini")), before);
    EXPECT_TRUE(dialogs.boxes().isEmpty()) << dialogs.texts().join(u'|').toStdString();
}

TEST_F(LanguageWindow, choosingChineseIsRememberedAndTheNextStartIsInChinese)
{
    choose(window->cbLang, QStringLiteral("中文"));

    EXPECT_EQ(rememberedLanguage(), QStringLiteral("chinese.ini"));
    EXPECT_TRUE(QString::fromUtf8(home.read(QStringLiteral("config.ini"))).contains(QStringLiteral("chinese.ini")));
    EXPECT_EQ(window->cbLang->currentText(), QStringLiteral("中文"));
    EXPECT_EQ(window->lbNumber->text(), QStringLiteral("编号"));
    EXPECT_EQ(window->btnGenReport->text(), QStringLiteral("生成报告"));
    ASSERT_EQ(window->cbSex->count(), 2);
    EXPECT_EQ(window->cbSex->itemText(0), QStringLiteral("男"));
    EXPECT_EQ(window->cbSex->itemText(1), QStringLiteral("女"));
    expectStackedSideLabels();
    EXPECT_TRUE(dialogs.boxes().isEmpty()) << dialogs.texts().join(u'|').toStdString();

    openWindow();
    EXPECT_EQ(window->cbLang->currentText(), QStringLiteral("中文"));
    EXPECT_EQ(window->lbName->text(), QStringLiteral("姓名"));
    EXPECT_EQ(window->btnPrint->text(), QStringLiteral("打印报告"));
    expectStackedSideLabels();

    // And back: the English words need the rotated labels again.
    choose(window->cbLang, QStringLiteral("English"));
    EXPECT_EQ(rememberedLanguage(), QStringLiteral("english.ini"));
    EXPECT_EQ(window->lbName->text(), QStringLiteral("Name"));
    EXPECT_EQ(window->cbSex->itemText(1), QStringLiteral("Female"));
    expectRotatedSideLabels();
}

double pointsOf(const QFont &font)
{
    return font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize() * 0.75;
}

// Whether a widget painted ink on its outermost rows or columns (a glyph cut at its side).
bool inkAtTheSides(QWidget *widget)
{
    QImage image(widget->size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    widget->render(&image, {}, {}, QWidget::RenderFlags());
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const bool side = x == 0 || y == 0 || x == image.width() - 1 || y == image.height() - 1;
            if (side && qAlpha(image.pixel(x, y)) != 0)
                return true;
        }
    }
    return false;
}

// In every shipped language every caption of the window shows whole in its fixed place: labels
// at 75 % of their size at least, buttons and the rotated side labels at their own size, and
// every character of the language file in one of the window's fonts. The scale factor 1.5 is
// checked by this same test in a process of its own.
TEST_F(LanguageWindow, everyCaptionShowsWholeInEveryLanguageAtScaleFactorsOneAndOneAndAHalf)
{
    const QStringList families = window->font().families();
    for (const QString &file : TestHome::shippedLanguages()) {
        const QMap<QString, QString> texts = TestHome::shippedLanguageTexts(file);
        const std::string language = file.toStdString();
        choose(window->cbLang, texts.value(QStringLiteral("Lang/displayname")));
        ASSERT_EQ(window->cbLang->currentData().toString(), file);
        EXPECT_EQ(TestHome::uncoveredCharacters(QStringList(texts.values()).join(QString()), families), QString())
            << language;
        for (const QLabel *label : window->findChildren<QLabel *>()) {
            if (!label->isVisible() || label->text().isEmpty() || label->text().contains(u'<'))
                continue;
            if (label->wordWrap()) {
                // A stacked side label: every line of its words inside it.
                EXPECT_LE(label->heightForWidth(label->width()), label->height())
                    << language << ": " << label->objectName().toStdString();
                continue;
            }
            const auto *fitting = qobject_cast<const FittingLabel *>(label);
            const QFont shown = fitting ? fitting->shownFont() : label->font();
            const std::string name = label->objectName().toStdString() + " \"" + label->text().toStdString() + "\"";
            EXPECT_LE(QFontMetricsF(shown).horizontalAdvance(label->text()), label->contentsRect().width())
                << language << ": " << name;
            EXPECT_GE(pointsOf(shown), FittingLabel::kSmallestShare * pointsOf(label->font()) - 0.01)
                << language << ": " << name;
        }
        // Buttons do not shrink: the text, with the icon beside it, inside the button's frame;
        // the record button also with its caption while recording.
        const auto expectButtonWhole = [&language](const QPushButton *button, const QString &text) {
            const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
            EXPECT_LE(QFontMetricsF(button->font()).horizontalAdvance(text) + icon, button->width() - 8)
                << language << ": " << button->objectName().toStdString() << " \"" << text.toStdString() << "\"";
        };
        for (const QPushButton *button : window->findChildren<QPushButton *>()) {
            if (!button->text().isEmpty())
                expectButtonWhole(button, button->text());
        }
        expectButtonWhole(window->btnRecord, texts.value(QStringLiteral("main/btnRecordEnd.Caption")));
        for (RotatedLabel *rotated : window->findChildren<RotatedLabel *>()) {
            if (!rotated->isVisible())
                continue;
            const std::string name = rotated->objectName().toStdString() + " \"" + rotated->text().toStdString() + "\"";
            EXPECT_LE(QFontMetricsF(rotated->font()).horizontalAdvance(rotated->text()), rotated->height())
                << language << ": " << name;
            EXPECT_FALSE(inkAtTheSides(rotated)) << language << ": " << name;
        }
    }

    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        return;
    QProcess scaled;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("1.5"));
    scaled.setProcessEnvironment(environment);
    scaled.setProcessChannelMode(QProcess::MergedChannels);
    scaled.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--gtest_filter=LanguageWindow.everyCaptionShowsWhole*")});
    ASSERT_TRUE(scaled.waitForFinished(240000));
    const QString output = QString::fromLocal8Bit(scaled.readAll());
    EXPECT_EQ(scaled.exitCode(), 0) << output.right(6000).toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.right(6000).toStdString();
}

TEST_F(LanguageWindow, theGridTitlesFollowTheLanguage)
{
    addPatient(QStringLiteral("10001"), QStringLiteral("Zhang San"));

    searchName(QStringLiteral("Zh"));
    ASSERT_TRUE(window->plGrid->isVisible());
    EXPECT_EQ(gridTitles(), QStringList({"Number", "Name", "Sex", "Age", "Phone", "Address"}));

    choose(window->cbLang, QStringLiteral("中文"));
    searchName(QStringLiteral("Zh"));
    ASSERT_TRUE(window->plGrid->isVisible());
    EXPECT_EQ(gridTitles(), QStringList({"编号", "姓名", "性别", "年龄", "电话", "地址"}));
}

TEST_F(LanguageWindow, aChoiceThatCannotBeRememberedIsShownAndNotApplied)
{
    // A folder in the place of config.ini: the choice cannot be written.
    ASSERT_TRUE(QDir().mkpath(home.file(QStringLiteral("config.ini"))));

    choose(window->cbLang, QStringLiteral("中文"));

    ASSERT_EQ(dialogs.boxes().size(), 1);
    EXPECT_EQ(dialogs.boxes()[0].kind, Dialogs::Kind::Error);
    EXPECT_TRUE(dialogs.boxes()[0].text.startsWith(QStringLiteral("Unable to write to ")))
        << dialogs.boxes()[0].text.toStdString();
    EXPECT_TRUE(dialogs.boxes()[0].text.contains(QStringLiteral("config.ini")));
    EXPECT_EQ(window->lbNumber->text(), QStringLiteral("Number"));
    expectRotatedSideLabels();
}

} // namespace
