#include "tests/ui/qt_app_fixture.h"
#include "ui/about_dialog.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

TEST(AboutDialog, NamesTheProgramAndClosesWithItsButton) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "About Quarvel");
    EXPECT_EQ(about.findChild<QLabel*>("aboutText")->text(), "Quarvel, Version 0.14");
    auto* button = about.findChild<QPushButton*>("aboutOkButton");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "Suostun");
    EXPECT_TRUE(button->isDefault());
    about.show();
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(about.result(), QDialog::Accepted);
    EXPECT_FALSE(about.isVisible());
}
