#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/ObservationRegistrar.h"
#include "platform/ui/FadeAnimation.h"
#include "platform/ui/ObservedWidget.h"
#include "platform/ui/ObservedWidgetUpdates.h"
#include "support/TestSupport.h"

#include <QGraphicsEffect>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace platform;

namespace {

// Three observable values, as a model's accessors would expose them.
class Model {
public:
    int a() const { return read("a", m_a); }
    std::size_t observersOfA() const { return m_registrar.observerCount("a"); }
    int b() const { return read("b", m_b); }
    int c() const { return read("c", m_c); }
    void setA(int value) { write("a", m_a, value); }
    void setB(int value) { write("b", m_b, value); }
    void setC(int value) { write("c", m_c, value); }

private:
    int read(ObservationKey key, int value) const
    {
        m_registrar.access(key);
        return value;
    }
    void write(ObservationKey key, int& field, int value)
    {
        m_registrar.withMutation(key, [&] { field = value; });
    }

    ObservationRegistrar m_registrar;
    int m_a = 0;
    int m_b = 0;
    int m_c = 0;
};

// Runs the main queue until everything posted so far has run.
void drainMainQueue()
{
    bool reached = false;
    DispatchQueue::main()->async([&reached] { reached = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return reached; }));
}

class Probe : public ObservedWidget {
public:
    explicit Probe(Model& model, std::function<void(Probe&)> body, QWidget* parent = nullptr)
        : ObservedWidget(parent)
        , m_model(model)
        , m_body(std::move(body))
    {
    }
    Model& model() { return m_model; }
    int appearCount = 0;
    int disappearCount = 0;

protected:
    void render() override { m_body(*this); }
    void appeared() override { ++appearCount; }
    void disappeared() override { ++disappearCount; }

private:
    Model& m_model;
    std::function<void(Probe&)> m_body;
};

} // namespace

TEST(ObservedWidget, WritesToReadValuesReRenderOnceWithTheNewValues)
{
    Model model;
    int seenA = -1;
    int seenB = -1;
    Probe probe(model, [&](Probe& p) {
        seenA = p.model().a();
        seenB = p.model().b();
    });
    probe.renderNow();
    ASSERT_EQ(probe.renderCount(), 1u);

    model.setA(1);
    model.setA(2);
    model.setB(7);
    EXPECT_EQ(probe.renderCount(), 1u) << "renders later, on the main queue";
    ASSERT_TRUE(testsupport::waitUntil([&] { return probe.renderCount() == 2; }));
    drainMainQueue();
    EXPECT_EQ(probe.renderCount(), 2u);
    EXPECT_EQ(seenA, 2);
    EXPECT_EQ(seenB, 7);

    // Tracking starts again after every render.
    model.setB(8);
    ASSERT_TRUE(testsupport::waitUntil([&] { return probe.renderCount() == 3; }));
    EXPECT_EQ(seenB, 8);
}

// A screen re-rendered without a change (a sidebar switch, a parent's render) and screens thrown
// away unchanged must not leave their scopes on every record they read.
TEST(ObservedWidget, RendersAndDestroyedWidgetsLeaveNoScopesBehind)
{
    Model model;
    auto* probe = new Probe(model, [](Probe& p) {
        (void)p.model().a();
        (void)p.model().a();
    });
    for (int i = 0; i < 50; ++i)
        probe->renderNow();
    EXPECT_EQ(model.observersOfA(), 1u);
    model.setA(1);
    ASSERT_TRUE(testsupport::waitUntil([&] { return probe->renderCount() == 51; }));
    EXPECT_EQ(model.observersOfA(), 1u) << "the render after a change tracks again";

    delete probe;
    EXPECT_EQ(model.observersOfA(), 0u);
    model.setA(2);
    drainMainQueue();
}

TEST(ObservedWidget, WriteToAValueNotReadDoesNotReRender)
{
    Model model;
    Probe probe(model, [](Probe& p) { (void)p.model().a(); });
    probe.renderNow();
    model.setC(5);
    drainMainQueue();
    EXPECT_EQ(probe.renderCount(), 1u);
    EXPECT_FALSE(probe.isRenderPending());
}

TEST(ObservedWidget, SetNeedsRenderCoalescesAndADestroyedWidgetIsNotRendered)
{
    Model model;
    auto* probe = new Probe(model, [](Probe&) {});
    probe->setNeedsRender();
    probe->setNeedsRender();
    drainMainQueue();
    EXPECT_EQ(probe->renderCount(), 1u);

    Model other;
    bool rendered = false;
    auto* doomed = new Probe(other, [&](Probe& p) {
        rendered = true;
        (void)p.model().a();
    });
    doomed->renderNow();
    rendered = false;
    other.setA(3);
    delete doomed;
    drainMainQueue();
    EXPECT_FALSE(rendered);
    delete probe;
}

TEST(ObservedWidget, ChildStateSurvivesTheParentsReRender)
{
    Model model;
    QLabel* title = nullptr;
    QLineEdit* edit = nullptr;
    QStackedWidget* stack = nullptr;
    Probe* child = nullptr;
    int childRenders = 0;
    std::shared_ptr<int> childState;
    Probe parent(model, [&](Probe& p) {
        if (!title) {
            auto* layout = new QVBoxLayout(&p);
            title = new QLabel(&p);
            edit = new QLineEdit(&p);
            stack = new QStackedWidget(&p);
            stack->addWidget(new QLabel(QStringLiteral("grid")));
            child = new Probe(p.model(), [&](Probe& c) {
                ++childRenders;
                (void)c.model().b();
                childState = c.stateObject<int>("selection");
            });
            layout->addWidget(title);
            layout->addWidget(edit);
            layout->addWidget(stack);
            layout->addWidget(child);
            child->renderNow();
        }
        setTextIfChanged(title, QString::number(p.model().a()));
    });
    parent.renderNow();
    ASSERT_EQ(childRenders, 1) << "the child rendered right after its parent's render";
    const auto firstState = childState;

    // The user types, pushes a page; the child keeps a state object.
    edit->setText(QStringLiteral("half-typed"));
    edit->setCursorPosition(4);
    stack->addWidget(new QLabel(QStringLiteral("workspace")));
    stack->setCurrentIndex(1);

    model.setA(9);
    ASSERT_TRUE(testsupport::waitUntil([&] { return parent.renderCount() == 2; }));
    EXPECT_EQ(title->text(), QStringLiteral("9"));
    EXPECT_EQ(edit->text(), QStringLiteral("half-typed"));
    EXPECT_EQ(edit->cursorPosition(), 4);
    EXPECT_EQ(stack->currentIndex(), 1);
    EXPECT_EQ(childRenders, 1) << "the parent's render does not re-render the child";

    // The scopes are independent: the child's read does not make the parent depend on it.
    model.setB(4);
    ASSERT_TRUE(testsupport::waitUntil([&] { return childRenders == 2; }));
    drainMainQueue();
    EXPECT_EQ(parent.renderCount(), 2u);
    EXPECT_EQ(childState, firstState);
}

TEST(ObservedWidget, AppearsAndDisappearsWithTheVisibleTree)
{
    Model model;
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* stack = new QStackedWidget;
    layout->addWidget(stack);
    auto* probe = new Probe(model, [](Probe&) {});
    stack->addWidget(probe);
    stack->addWidget(new QLabel(QStringLiteral("other page")));
    EXPECT_FALSE(probe->hasRendered());

    window.show();
    EXPECT_EQ(probe->appearCount, 1);
    EXPECT_TRUE(probe->hasRendered()) << "rendered before it first appears";

    stack->setCurrentIndex(1);
    EXPECT_EQ(probe->disappearCount, 1);
    stack->setCurrentIndex(0);
    EXPECT_EQ(probe->appearCount, 2);

    window.hide();
    EXPECT_EQ(probe->disappearCount, 2);
    window.show();
    window.show();
    EXPECT_EQ(probe->appearCount, 3);
    EXPECT_EQ(probe->renderCount(), 1u);
}

TEST(ObservedWidget, StateObjectsAreKeptByIdentityAndReleasedWhenNoLongerAskedFor)
{
    Model model;
    std::vector<std::string> keys { "one", "two" };
    std::map<std::string, std::shared_ptr<int>> seen;
    Probe probe(model, [&](Probe& p) {
        seen.clear();
        (void)p.model().a();
        for (const auto& key : keys)
            seen[key] = p.stateObject<int>(key, [] { return std::make_shared<int>(0); });
    });
    auto kept = probe.stateObject<int>("outside");
    probe.renderNow();
    auto one = seen["one"];
    auto two = seen["two"];
    std::weak_ptr<int> weakTwo = two;
    two.reset();

    keys = { "one" };
    probe.renderNow();
    EXPECT_EQ(seen["one"], one);
    EXPECT_TRUE(weakTwo.expired()) << "the identity left the screen";
    EXPECT_TRUE(probe.hasState("outside"));
    EXPECT_EQ(probe.stateObject<int>("outside"), kept);

    // Another type under the same key is a different identity.
    auto asDouble = probe.stateObject<double>("outside");
    EXPECT_NE(static_cast<void*>(asDouble.get()), static_cast<void*>(kept.get()));
}

TEST(ObservedWidget, KeyedChildrenKeepWidgetsByKeyAndDeleteTheRest)
{
    QWidget host;
    auto* layout = new QVBoxLayout(&host);
    KeyedChildren<QLineEdit> children;
    int made = 0;
    auto make = [&](const std::string& key) {
        ++made;
        auto* edit = new QLineEdit(QString::fromStdString(key), &host);
        return edit;
    };
    children.reconcile({ "a", "b", "c" }, make);
    children.arrange(layout);
    QPointer<QLineEdit> b = children.child("b");
    QPointer<QLineEdit> c = children.child("c");
    b->setText(QStringLiteral("typed"));

    auto order = children.reconcile({ "c", "b", "d", "b" }, make);
    children.arrange(layout);
    EXPECT_EQ(made, 4);
    ASSERT_EQ(order.size(), 3u);
    EXPECT_EQ(order[0], c.data());
    EXPECT_EQ(order[1], b.data());
    EXPECT_EQ(b->text(), QStringLiteral("typed"));
    EXPECT_EQ(layout->indexOf(c), 0);
    EXPECT_EQ(layout->indexOf(order[2]), 2);
    EXPECT_EQ(children.child("a"), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(host.findChildren<QLineEdit*>().size(), 3);
}

// A list of thousands of new rows is arranged without a walk of the layout for each row, which made
// opening a project of 10,000 notes take seconds.
TEST(ObservedWidget, NewChildrenAreArrangedWithoutAWalkOfTheLayoutEach)
{
    struct CountingLayout : QVBoxLayout {
        using QVBoxLayout::QVBoxLayout;
        QLayoutItem* itemAt(int index) const override
        {
            ++asked;
            return QVBoxLayout::itemAt(index);
        }
        mutable long long asked = 0;
    };
    QWidget host;
    auto* layout = new CountingLayout(&host);
    KeyedChildren<QWidget> children;
    std::vector<std::string> keys;
    for (int i = 0; i < 2000; ++i)
        keys.push_back(std::to_string(i));
    children.reconcile(keys, [&](const std::string&) { return new QWidget(&host); });
    children.arrange(layout);
    EXPECT_LT(layout->asked, 20 * 2000);
    EXPECT_EQ(layout->indexOf(children.child("1999")), 1999);

    // Moved ones are still taken out of their old place.
    std::reverse(keys.begin(), keys.begin() + 3);
    children.reconcile(keys, [&](const std::string&) { return new QWidget(&host); });
    children.arrange(layout);
    EXPECT_EQ(layout->count(), 2000);
    EXPECT_EQ(layout->indexOf(children.child("2")), 0);
    EXPECT_EQ(layout->indexOf(children.child("0")), 2);
}

TEST(ObservedWidget, UpdatesWriteOnlyWhatDiffersWithoutSignals)
{
    QLineEdit edit;
    QSignalSpy changed(&edit, &QLineEdit::textChanged);
    edit.setText(QStringLiteral("abc"));
    edit.setCursorPosition(1);
    changed.clear();
    EXPECT_FALSE(setTextIfChanged(&edit, QStringLiteral("abc")));
    EXPECT_EQ(edit.cursorPosition(), 1);
    EXPECT_TRUE(setTextIfChanged(&edit, QStringLiteral("xyz")));
    EXPECT_EQ(changed.count(), 0);

    QComboBox combo;
    QSignalSpy current(&combo, &QComboBox::currentIndexChanged);
    syncCombo(&combo, { { "1", "One" }, { "2", "Two" } }, QStringLiteral("2"));
    EXPECT_EQ(combo.currentText(), QStringLiteral("Two"));
    EXPECT_EQ(current.count(), 0);
}

TEST(FadeAnimation, DurationsThatCannotAnimateFinishAtOnce)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double seconds : { 0.0, -1.0, nan, inf, -inf }) {
        FadeAnimation fade;
        std::vector<double> steps;
        bool finished = false;
        fade.start(
            seconds, [&](double opacity) { steps.push_back(opacity); }, [&] { finished = true; });
        EXPECT_TRUE(finished) << seconds;
        EXPECT_EQ(steps, std::vector<double> { 1.0 }) << seconds;
        EXPECT_FALSE(fade.isRunning());
        EXPECT_EQ(FadeAnimation::sanitizedDuration(seconds), 0.0);
    }
}

TEST(FadeAnimation, RunsFromZeroToOneAndAReplacedFadeDoesNotFinish)
{
    FadeAnimation fade;
    double last = -1;
    bool firstFinished = false;
    bool secondFinished = false;
    fade.start(
        10, [&](double) {}, [&] { firstFinished = true; });
    EXPECT_TRUE(fade.isRunning());
    EXPECT_EQ(fade.opacity(), 0.0);
    fade.start(
        0.05, [&](double opacity) { last = opacity; }, [&] { secondFinished = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return secondFinished; }));
    EXPECT_FALSE(firstFinished);
    EXPECT_EQ(last, 1.0);
    EXPECT_EQ(fade.opacity(), 1.0);

    QWidget widget;
    widget.show();
    fadeIn(&widget, 0.03);
    EXPECT_NE(widget.graphicsEffect(), nullptr);
    ASSERT_TRUE(testsupport::waitUntil([&] { return widget.graphicsEffect() == nullptr; }));
    fadeIn(&widget, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(widget.graphicsEffect(), nullptr);
}
