#include "ui/FocusRelease.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

namespace {

template<typename Control> Control *make(QWidget *parent, const char *name, QRect geometry)
{
    auto *control = new Control(parent);
    control->setObjectName(QLatin1String(name));
    control->setGeometry(geometry);
    return control;
}

} // namespace

// A small window with the containers of the main window and a field in each.
class FocusReleaseTest : public ::testing::Test {
protected:
    FocusReleaseTest()
    {
        window.resize(800, 600);
        auto *left = make<QFrame>(&window, "TntPanel1", {0, 0, 300, 600});
        group1 = make<QGroupBox>(left, "TntGroupBox1", {0, 0, 300, 200});
        edtNumber = make<QLineEdit>(group1, "edtNumber", {10, 20, 100, 22});
        lstNumber = make<QListWidget>(group1, "lstNumber", {10, 44, 100, 60});
        group3 = make<QGroupBox>(left, "TntGroupBox3", {0, 300, 300, 200});
        edtTreat = make<QLineEdit>(group3, "edtTreat1", {10, 20, 200, 22});

        panel2 = make<QFrame>(&window, "TntPanel2", {300, 0, 500, 600});
        panel3 = make<QFrame>(panel2, "TntPanel3", {0, 0, 500, 75});
        panel7 = make<QFrame>(panel3, "TntPanel7", {0, 0, 500, 35});
        cbLang = make<QComboBox>(panel7, "cbLang", {50, 5, 100, 24});
        cbLang->setEditable(true);
        cbTitle = make<QComboBox>(panel3, "cbTitle", {10, 45, 100, 24});
        cbTitle->setEditable(true);
        cbProposer = make<QComboBox>(panel3, "cbProposer", {150, 45, 100, 24});
        cbProposer->setEditable(true);
        movie = make<QFrame>(panel2, "plMovieContainter", {0, 80, 500, 500});
        picture = make<QFrame>(movie, "plMovie", {10, 10, 300, 200});
        trackBar = make<QSlider>(movie, "TrackBar1", {10, 250, 200, 24});
        trackBar->setOrientation(Qt::Horizontal);

        release = std::make_unique<FocusRelease>(FocusRelease::find(&window));
        window.show();
        QApplication::setActiveWindow(&window);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    // The pointer moves to pos of widget, from a little aside so a move event comes.
    static void moveOver(QWidget *widget, QPoint pos)
    {
        QTest::mouseMove(widget, pos + QPoint(1, 1));
        QTest::mouseMove(widget, pos);
        QApplication::processEvents();
    }

    QWidget window;
    QGroupBox *group1, *group3;
    QLineEdit *edtNumber, *edtTreat;
    QListWidget *lstNumber;
    QFrame *panel2, *panel3, *panel7, *movie, *picture;
    QComboBox *cbLang, *cbTitle, *cbProposer;
    QSlider *trackBar;
    std::unique_ptr<FocusRelease> release;
};

TEST_F(FocusReleaseTest, PatientGroupTakesTheFocusOnlyWhileTheListIsShown)
{
    lstNumber->hide();
    edtNumber->setFocus();
    moveOver(group1, {200, 150});
    EXPECT_TRUE(edtNumber->hasFocus());

    lstNumber->show();
    lstNumber->setFocus();
    moveOver(group1, {200, 150});
    EXPECT_TRUE(group1->hasFocus());
}

TEST_F(FocusReleaseTest, TreatmentGroupAlwaysTakesTheFocus)
{
    edtTreat->setFocus();
    moveOver(group3, {250, 150});
    EXPECT_TRUE(group3->hasFocus());
    QTest::keyClicks(QApplication::focusWidget(), "abc");
    EXPECT_EQ(edtTreat->text(), QString());
}

TEST_F(FocusReleaseTest, MovementOverAChildControlDoesNotCount)
{
    edtTreat->setFocus();
    moveOver(edtTreat, {50, 10});
    EXPECT_TRUE(edtTreat->hasFocus());

    trackBar->setFocus();
    moveOver(picture, {100, 100});
    EXPECT_TRUE(trackBar->hasFocus());
    moveOver(movie, {400, 400});
    EXPECT_TRUE(movie->hasFocus());
}

TEST_F(FocusReleaseTest, TopBarReleasesOnlyTheLanguageAndRequestingDoctorBoxes)
{
    cbTitle->setFocus();
    moveOver(panel3, {400, 60});
    EXPECT_TRUE(cbTitle->hasFocus());

    cbProposer->setFocus();
    moveOver(panel3, {400, 60});
    EXPECT_TRUE(panel3->hasFocus());

    cbLang->setFocus();
    moveOver(panel7, {400, 20});
    EXPECT_TRUE(panel7->hasFocus());
}

TEST_F(FocusReleaseTest, LiveAreaReleasesOnlyTheSlider)
{
    cbTitle->setFocus();
    moveOver(movie, {400, 400});
    EXPECT_TRUE(cbTitle->hasFocus());
}

TEST_F(FocusReleaseTest, RightHalfTakesTheFocusOnMovementAndClick)
{
    // The right half's own background shows only where no child lies: hide the live area.
    movie->hide();
    cbTitle->setFocus();
    moveOver(panel2, {400, 300});
    EXPECT_TRUE(panel2->hasFocus());

    cbTitle->setFocus();
    release->TntPanel2Click();
    EXPECT_TRUE(panel2->hasFocus());
    cbTitle->setFocus();
    QTest::mouseClick(panel2, Qt::LeftButton, {}, QPoint(400, 300));
    EXPECT_TRUE(panel2->hasFocus());
}

TEST(FocusReleaseMark, GroupBoxWithTheFocusShowsNoFocusMark)
{
    // The classic Windows look draws a focus rectangle around a focused group box's title.
    const QString previousStyle = QApplication::style()->name();
    QApplication::setStyle(QStringLiteral("Windows"));
    {
        QWidget window;
        window.resize(300, 200);
        auto *group3 = make<QGroupBox>(&window, "TntGroupBox3", {0, 0, 300, 200});
        group3->setTitle(QStringLiteral("Treatment"));
        auto *edtTreat = make<QLineEdit>(group3, "edtTreat1", {10, 30, 200, 22});
        FocusRelease::Controls controls;
        controls.TntGroupBox3 = group3;
        FocusRelease release(controls);
        window.show();
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

        // The group box alone, without its field, whose look changes with the focus.
        const auto ownLook = [group3] {
            QImage image(group3->size(), QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            group3->render(&image, {}, {}, QWidget::DrawWindowBackground);
            return image;
        };
        edtTreat->setFocus();
        const QImage before = ownLook();
        release.TntGroupBox3MouseMove();
        ASSERT_TRUE(group3->hasFocus());
        EXPECT_EQ(ownLook(), before);
    }
    QApplication::setStyle(previousStyle);
}
