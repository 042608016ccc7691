// Benchmark of the completion pop-up, offscreen: a list of 200, 2,000 and 20,000 items (a label
// each, made beforehand) shown under a field, painted, moved through by ten Down keys and closed,
// against a plain QListView of as many text rows (a string list model handed the texts, rows of one
// height) shown, painted and hidden in a pop-up window of the same size. The baseline lays out only
// the rows in sight, as the pop-up should: the ratio stays about the same at every length when the
// pop-up's cost does not grow with the rows out of sight.

#include "EDCompletion/EDCompletionWindowController.h"
#include "bench/support/Compare.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QStringListModel>

#include <memory>

namespace {

class LabelItem : public EDCompletionItem {
public:
    explicit LabelItem(const QString& text)
        : m_label(std::make_unique<QLabel>(text))
    {
    }
    QString id() const override { return m_label->text(); }
    QWidget* view() const override { return m_label.get(); }

private:
    std::unique_ptr<QLabel> m_label;
};

void settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QWidget window;
    window.resize(400, 300);
    auto* field = new QLineEdit(&window);
    window.show();
    window.activateWindow();
    field->setFocus();
    auto viewController = std::make_shared<EDCompletionViewController>();
    EDCompletionWindowController controller(viewController);

    for (const int count : { 200, 2000, 20000 }) {
        EDCompletionItems items;
        QStringList texts;
        for (int index = 0; index < count; ++index) {
            texts.push_back(QString("completion %1").arg(index));
            items.push_back(std::make_shared<LabelItem>(texts.back()));
        }
        const auto ours = [&] {
            controller.show(items, field, QPoint(100, 100));
            settle();
            for (int down = 0; down < 10; ++down) {
                QKeyEvent press(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
                QCoreApplication::sendEvent(field, &press);
            }
            settle();
            controller.close();
            settle();
        };
        QStringListModel model;
        QListView list;
        list.setModel(&model);
        list.setUniformItemSizes(true);
        list.setWindowFlags(Qt::ToolTip);
        list.resize(320, 212);
        const auto baseline = [&] {
            model.setStringList(texts);
            list.setCurrentIndex(model.index(0));
            list.show();
            settle();
            for (int down = 0; down < 10; ++down)
                list.setCurrentIndex(model.index(down + 1));
            settle();
            list.hide();
            model.setStringList({});
            settle();
        };
        bench::compare(QString("pop-up of %1 items").arg(count).toStdString(), ours, baseline, 5);
    }
    return 0;
}
