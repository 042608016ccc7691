#include "../ScreenTestSupport.h"
#include "app/screens/common/TDAlert.h"

#include <QClipboard>
#include <QIcon>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTextLayout>

namespace {

// An icon theme of one icon, the desktop's for the life of the object.
class ScopedIconTheme {
public:
    explicit ScopedIconTheme(const QColor& color)
        : m_paths(QIcon::themeSearchPaths())
        , m_name(QIcon::themeName())
    {
        QDir(m_dir.path()).mkpath("Desk/48x48/status");
        QFile index(m_dir.path() + "/Desk/index.theme");
        EXPECT_TRUE(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=Desk\nDirectories=48x48/status\n\n"
                    "[48x48/status]\nSize=48\nContext=Status\nType=Fixed\n");
        index.close();
        QImage icon(48, 48, QImage::Format_ARGB32);
        icon.fill(color);
        icon.save(m_dir.path() + "/Desk/48x48/status/dialog-warning.png");
        QIcon::setThemeSearchPaths({ m_dir.path() });
        QIcon::setThemeName("Desk");
    }
    ~ScopedIconTheme()
    {
        QIcon::setThemeSearchPaths(m_paths);
        QIcon::setThemeName(m_name);
    }

private:
    QTemporaryDir m_dir;
    QStringList m_paths;
    QString m_name;
};

} // namespace

TEST(TDAlert, ShowsTheTitleOnceOnOneLineTheMessageBelowAndTheDesktopThemesIcon)
{
    QWidget parent;
    parent.resize(640, 400);
    parent.show();
    const QString title = "The note already exists";
    const QString message
        = "The note with the name you entered already exists. Please enter a different name.";
    for (bool themed : { true, false }) {
        std::optional<ScopedIconTheme> theme;
        if (themed)
            theme.emplace(QColor(255, 0, 0));
        QMessageBox* box = presentTDAlert(&parent, title, message);
        QCoreApplication::processEvents();
        EXPECT_EQ(box->text(), title);
        EXPECT_EQ(box->informativeText(), message);
        EXPECT_NE(box->windowTitle(), title) << "the title is not repeated in the frame";
        auto* label = box->findChild<QLabel*>("qt_msgbox_label");
        ASSERT_TRUE(label);
        EXPECT_TRUE(label->font().bold());
        EXPECT_LT(label->height(), 2 * label->fontMetrics().height()) << "one line, not cut";
        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(title));
        auto* informative = box->findChild<QLabel*>("qt_msgbox_informativelabel");
        ASSERT_TRUE(informative);
        EXPECT_GT(informative->y(), label->y());
        EXPECT_LE(informative->height(), 3 * informative->fontMetrics().height() + 4);

        QImage icon = box->iconPixmap().toImage();
        ASSERT_FALSE(icon.isNull());
        QColor sample = icon.pixelColor(icon.width() * 7 / 24, icon.height() * 19 / 24);
        if (themed) {
            EXPECT_EQ(sample, QColor(255, 0, 0)) << "the theme's own icon";
        } else {
            EXPECT_GT(sample.red(), 200) << "the warning symbol, not the toolkit's bitmap";
            EXPECT_LT(sample.blue(), 80);
        }
        box->buttons().front()->click();
        QCoreApplication::processEvents();
    }
}

// A path or a name of one long word is wider than the box: it breaks onto the next lines instead
// of being cut off, and reads as it was given.
TEST(TDAlert, ATextWiderThanTheBoxBreaksInsteadOfBeingCutOff)
{
    QWidget parent;
    parent.resize(640, 400);
    parent.show();
    const QString message = "\"/home/someone/Documents/Tindrel.folder/" + QString(120, 'W')
        + QString::fromUtf8("Cafe\xcc\x81") + QString(80, 'W') + "\" already exists.";
    QMessageBox* box = presentTDAlert(&parent, "The project could not be renamed.", message);
    QCoreApplication::processEvents();
    auto* informative = box->findChild<QLabel*>("qt_msgbox_informativelabel");
    ASSERT_TRUE(informative);
    QString shown = informative->text();
    EXPECT_TRUE(shown.contains(QString::fromUtf8("e\xcc\x81"))) << "never broken inside a character";
    EXPECT_EQ(shown.remove(QChar(0x200B)), message);
    QTextLayout layout(informative->text(), informative->font());
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    const int width = informative->contentsRect().width();
    layout.beginLayout();
    int lines = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        EXPECT_LE(line.naturalTextWidth(), width) << "line " << lines;
        ++lines;
    }
    layout.endLayout();
    EXPECT_GT(lines, 2);
    EXPECT_GE(informative->height(), lines * informative->fontMetrics().lineSpacing());
    EXPECT_LE(box->width(), 1000);

    // Copied, the path is the one given: no break point inside it.
    QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(copied.contains(message)) << copied.toStdString();
    EXPECT_FALSE(copied.contains(QChar(0x200B)));

    // So is a part selected with the mouse and copied from the label.
    const int end = int(informative->text().indexOf(QStringLiteral("\" already")));
    informative->setSelection(1, end - 1);
    ASSERT_TRUE(informative->selectedText().contains(QChar(0x200B)));
    informative->setFocus();
    QTest::keyClick(informative, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
        message.mid(1, message.indexOf(QStringLiteral("\" already")) - 1));
    box->buttons().front()->click();
}
