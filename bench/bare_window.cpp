// bench_bare_window: the floors of the start-up benchmark. A QApplication and a
// plain QWidget of the updater window's size (539 x 380), shown; then "shown"
// on stdout, as kitupdater prints it under KITUPDATER_EXIT_WHEN_SHOWN.
//
//   bench_bare_window [--text]
//
// --text puts the window's notice into it, in the window's Japanese font: the
// floor of any window that shows Japanese text (font database, glyphs).
#include <QApplication>
#include <QLabel>
#include <QWidget>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(539, 380);
    if (QCoreApplication::arguments().contains(QStringLiteral("--text"))) {
        QFont font;
        font.setFamilies({QStringLiteral("MS UI Gothic"), QStringLiteral("IPAPGothic")});
        font.setPointSizeF(9);
        auto *notice = new QLabel(QStringLiteral("この'ファームウエアアップデート'ウィンドウ内の操作を行った後は、"
                                                 "キットの電源を再投入してください。\r\n\r\n"
                                                 "多目的タイマーの設定：通信スピード９６００ＢＰＳ"),
                                  &window);
        notice->setFont(font);
        notice->setWordWrap(true);
        notice->setGeometry(9, 72, 526, 106);
    }
    window.show();
    QCoreApplication::processEvents();
    std::puts("shown");
    std::fflush(stdout); // through the pipe now, not at the exit
    return 0;
}
