// The main window offers every control of the workstation under its name, with its built-in
// caption, and reachable by assistive technology.
#include "ScriptedDialogs.h"
#include "TestHome.h"
#include "app/untMain.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

class WindowControls : public ::testing::Test {
protected:
    void SetUp() override { window = std::make_unique<TfrmMain>(); }

    QWidget *control(const char *name) const
    {
        auto *found = window->findChild<QWidget *>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    QString caption(const char *name) const
    {
        QWidget *found = control(name);
        if (auto *button = qobject_cast<QAbstractButton *>(found))
            return button->text();
        if (auto *label = qobject_cast<QLabel *>(found))
            return label->text();
        return {};
    }

    TestHome home;
    ScriptedDialogs dialogs;
    std::unique_ptr<TfrmMain> window;
};

TEST_F(WindowControls, everyNamedControlIsPresentAndDescribedByItsName)
{
    const char *names[] = {
        "TntPanel1",
        "TntGroupBox1",
        "lbInputInfo",
        "lbNumber",
        "edtNumber",
        "btnNew",
        "btnDelCient",
        "lbName",
        "edtName",
        "lbSex",
        "cbSex",
        "lbAge",
        "edtAge",
        "lbTel",
        "edtTel",
        "lbAddr",
        "edtAddr",
        "lstNumber",
        "TntGroupBox2",
        "lbPic",
        "lbPic_an",
        "plImageContener1",
        "plImageContener2",
        "plImageContener3",
        "plImageContener4",
        "plMask1",
        "plMask2",
        "plMask3",
        "plMask4",
        "imgPic1",
        "imgPic2",
        "imgPic3",
        "imgPic4",
        "mmSymp5",
        "lbSypmtom",
        "lbSypmtom_an",
        "TntComboBox1",
        "TntComboBox2",
        "TntComboBox3",
        "TntComboBox4",
        "TntSpeedButton1",
        "TntSpeedButton2",
        "TntSpeedButton3",
        "TntSpeedButton4",
        "TntGroupBox3",
        "lbTreat",
        "lbTreat_an",
        "ckbHaveTreat",
        "TntComboBox21",
        "TntComboBox22",
        "TntComboBox23",
        "TntComboBox24",
        "TntSpeedButton21",
        "TntSpeedButton22",
        "TntSpeedButton23",
        "TntSpeedButton24",
        "btnGenReport",
        "btnPrevReport",
        "btnPrint",
        "btnGetPhoto",
        "plGrid",
        "clientGrid",
        "TntPanel2",
        "TntPanel3",
        "TntPanel7",
        "lbLang",
        "cbLang",
        "TntPanel9",
        "imgLogo",
        "lbTitle",
        "cbTitle",
        "lbProposer",
        "cbProposer",
        "lbDoctor",
        "edtDoctor",
        "plMovieContainter",
        "plMovie",
        "Imagemovie",
        "imageFront",
        "lbResulutionCap",
        "TrackBar1",
        "lbResolution",
        "btnCameraProp",
        "btnRecord",
        "btnOpenVideo",
        "btnCalibration",
        "plProcessContainter",
        "plProcess",
        "imgBack",
        "btnGray",
        "btnTurnLeft",
        "btnTurnRight",
        "btnMline",
        "btnSave",
        "btnBack",
    };
    for (const char *name : names) {
        if (QWidget *found = control(name)) {
            EXPECT_EQ(found->accessibleDescription(), QLatin1String(name));
        }
    }
    // The processing panel has an overlay of its own besides the live picture's.
    EXPECT_EQ(window->findChildren<QWidget *>(QStringLiteral("imageFront")).size(), 2);
    ASSERT_NE(window->popImgMenu, nullptr);
    EXPECT_EQ(window->popImgMenu->objectName(), QStringLiteral("popImgMenu"));
}

TEST_F(WindowControls, builtInCaptionsStandUntilALanguageIsApplied)
{
    const std::pair<const char *, const char *> captions[] = {
        {"lbInputInfo", "输入资料"},
        {"lbNumber", "编号"},
        {"btnNew", "+"},
        {"btnDelCient", "-"},
        {"lbName", "姓名"},
        {"lbSex", "性别"},
        {"lbAge", "年龄"},
        {"lbTel", "电话"},
        {"lbAddr", "地址"},
        {"lbPic", "检查所见"},
        {"lbSypmtom", "诊    断"},
        {"lbTreat", "处置意见"},
        {"btnGenReport", "生成报告"},
        {"btnPrevReport", "预览报告"},
        {"btnGetPhoto", "调看照片"},
        {"btnPrint", "打印报告"},
        {"lbLang", "语言"},
        {"lbTitle", "报告名称"},
        {"lbProposer", "申请医生"},
        {"lbDoctor", "诊断医生"},
        {"lbResulutionCap", "分辨率："},
        {"lbResolution", "640x480"},
        {"btnCameraProp", "视频设置"},
        {"btnOpenVideo", "打开视频"},
        {"btnCalibration", "测量校准"},
        {"btnRecord", "录像"},
        {"btnGray", "灰色"},
        {"btnMline", "测量"},
        {"btnSave", "保存"},
        {"btnBack", "返回"},
        {"TntSpeedButton1", "-"},
        {"TntSpeedButton24", "-"},
    };
    for (const auto &[name, text] : captions)
        EXPECT_EQ(caption(name), QString::fromUtf8(text)) << name;

    auto *sex = static_cast<QComboBox *>(control("cbSex"));
    ASSERT_EQ(sex->count(), 2);
    EXPECT_EQ(sex->itemText(0), QStringLiteral("男"));
    EXPECT_EQ(sex->itemText(1), QStringLiteral("女"));
    EXPECT_EQ(window->popImgMenu->actions().value(0)->text(), QStringLiteral("删除"));
}

TEST_F(WindowControls, fieldsAreNamedByTheirLabelsAndButtonsByTheirCaptions)
{
    const std::pair<const char *, const char *> buddies[] = {
        {"edtNumber", "lbNumber"}, {"edtName", "lbName"}, {"cbSex", "lbSex"},     {"edtAge", "lbAge"},
        {"edtTel", "lbTel"},       {"edtAddr", "lbAddr"}, {"cbTitle", "lbTitle"}, {"cbProposer", "lbProposer"},
        {"edtDoctor", "lbDoctor"}, {"cbLang", "lbLang"},
    };
    for (const auto &[fieldName, labelName] : buddies) {
        auto *label = static_cast<QLabel *>(control(labelName));
        EXPECT_EQ(label->buddy(), control(fieldName)) << fieldName;
    }

    window->show();
    QAccessibleInterface *number = QAccessible::queryAccessibleInterface(control("edtNumber"));
    ASSERT_NE(number, nullptr);
    EXPECT_EQ(number->text(QAccessible::Name), caption("lbNumber"));
    QAccessibleInterface *save = QAccessible::queryAccessibleInterface(control("btnGenReport"));
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(save->text(QAccessible::Name), caption("btnGenReport"));
    EXPECT_EQ(save->text(QAccessible::Description), QStringLiteral("btnGenReport"));
}

TEST_F(WindowControls, panesAndPictureSlotsHaveTheirPlaces)
{
    EXPECT_EQ(window->size(), QSize(1296, 702));
    EXPECT_EQ(window->maximumSize(), QSize(1366, 768));
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);

    EXPECT_EQ(control("TntPanel1")->geometry(), QRect(0, 0, 577, 702));
    EXPECT_EQ(control("TntPanel2")->geometry(), QRect(577, 0, 719, 702));
    EXPECT_EQ(control("TntPanel3")->height(), 75);
    EXPECT_EQ(control("plMovie")->size(), QSize(642, 482));
    EXPECT_EQ(control("Imagemovie")->geometry(), QRect(1, 1, 640, 480));
    EXPECT_EQ(control("imageFront")->geometry(), QRect(1, 1, 640, 480));
    EXPECT_EQ(control("plMovieContainter")->geometry(), QRect(0, 75, 719, 627));
    EXPECT_EQ(control("plProcessContainter")->geometry(), QRect(0, 75, 719, 627));
    EXPECT_FALSE(control("plProcessContainter")->isVisibleTo(window.get()));
    EXPECT_EQ(control("plGrid")->geometry(), QRect(8, 96, 553, 281));
    EXPECT_FALSE(control("plGrid")->isVisibleTo(window.get()));
    EXPECT_EQ(control("clientGrid")->geometry(), QRect(24, 24, 497, 233));
    EXPECT_EQ(control("btnCalibration")->geometry(), QRect(560, 584, 113, 25));
    EXPECT_EQ(control("TntPanel9")->size(), QSize(145, 31));
    // Without a logo file the built-in logo stands.
    EXPECT_EQ(static_cast<QLabel *>(control("imgLogo"))->pixmap().size(), QSize(145, 28));

    const QPoint frames[4] = {{79, 13}, {312, 13}, {79, 154}, {312, 154}};
    for (int slot = 0; slot < 4; ++slot) {
        const QByteArray number = QByteArray::number(slot + 1);
        EXPECT_EQ(control(("plImageContener" + number).constData())->geometry(), QRect(frames[slot], QSize(168, 128)));
        EXPECT_EQ(control(("plMask" + number).constData())->geometry(), QRect(4, 4, 160, 120));
        EXPECT_EQ(control(("imgPic" + number).constData())->geometry(), QRect(0, 0, 160, 120));
    }
    EXPECT_EQ(control("plProcess")->geometry(), QRect(24, 32, 642, 482));
    EXPECT_EQ(control("imgBack")->geometry(), QRect(1, 1, 640, 480));
}

} // namespace
