// Colours that follow the palette (a dark theme stays readable) and Qt's own texts in Japanese.
#include "QtAppTest.h"
#include "ui/ConsoleEdit.h"
#include "ui/ConsoleForm.h"
#include "ui/ImageButton.h"
#include "ui/QuillonApp.h"

#include <QCoreApplication>
#include <QTranslator>
#include <gtest/gtest.h>

namespace {

using ThemeTest = QtAppTest;
using QtTranslationTest = QtAppTest;

QPalette DarkPalette() {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(40, 40, 40));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(20, 20, 20));
    dark.setColor(QPalette::Text, QColor(240, 240, 240));
    return dark;
}

// Text and background of a widget differ clearly in lightness.
void ExpectReadable(const QWidget& widget) {
    const QColor base = widget.palette().color(QPalette::Base);
    const QColor text = widget.palette().color(QPalette::Text);
    EXPECT_GE(std::abs(base.lightness() - text.lightness()), 128)
        << base.name().toStdString() << " / " << text.name().toStdString();
}

TEST_F(ThemeTest, ConsoleOutputTakesThePaletteOfADarkTheme) {
    QWidget window;
    window.setPalette(DarkPalette());
    auto* form = new CConsoleForm(&window);
    form->InitialUpdate(100, false, true);
    const CConsoleEdit& output = *form->Output();
    EXPECT_EQ(output.Background(), QColor(20, 20, 20));
    EXPECT_EQ(output.palette().color(QPalette::Text), QColor(240, 240, 240));
    ExpectReadable(output);

    // A theme change reaches the output too.
    QPalette light = DarkPalette();
    light.setColor(QPalette::Base, Qt::white);
    light.setColor(QPalette::Text, Qt::black);
    window.setPalette(light);
    EXPECT_EQ(output.Background(), QColor(Qt::white));
    ExpectReadable(output);
}

TEST_F(ThemeTest, ChosenBackgroundsGetATextColourThatReads) {
    QWidget window;
    window.setPalette(DarkPalette());
    auto* console = new CConsoleEdit(&window);
    console->SetBackground(QColor(255, 255, 255));
    EXPECT_EQ(console->palette().color(QPalette::Text), QColor(Qt::black));
    // The result colours keep their meaning; their text is dark on them in any theme.
    for (const QColor& colour : {QColor(128, 192, 128), QColor(200, 128, 128),
                                 QColor(200, 200, 128), QColor(255, 255, 255)}) {
        auto* result = new CColorEdit(&window);
        result->SetColour(colour);
        EXPECT_EQ(result->palette().color(QPalette::Base), colour);
        ExpectReadable(*result);
    }
}

TEST_F(QtTranslationTest, JapaneseUiLoadsQtsOwnJapaneseTexts) {
    QTranslator english;
    EXPECT_FALSE(LoadQtTranslation(english, 1));
    QTranslator japanese;
    ASSERT_TRUE(LoadQtTranslation(japanese, 0)) << "qt6-translations-l10n installed?";
    QCoreApplication::installTranslator(&japanese);
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"),
              QString::fromUtf8("キャンセル"));
    QCoreApplication::removeTranslator(&japanese);
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}

} // namespace
