// The scan of a link's page for its title and description, against the least any scan of the same
// bytes must do: one QByteArrayView::indexOf pass over every byte (for a text the page does not
// hold). Two pages: a realistic 300 KB page (title early, no description, so the description scan
// reads to the end) and a 2 MiB single-line page of unclosed openers, on which a lazy
// regular-expression search restarts at every opener and reads to the end each time.

#include "app/notes/TDPageScanner.h"
#include "bench/support/Compare.h"

#include <QByteArray>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int runs = 21;
constexpr double targetRatio = 10;
constexpr double adversarialTargetMs = 50;

// A page shaped like a news article: a head of meta and link tags with inline script and style
// (full of "<" and quotes), then a long body of nested markup.
QByteArray realisticPage(qsizetype bytes)
{
    QByteArray page = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                      "<title>Ten ways to keep a sketchbook &ndash; Studio Notes</title>\n";
    for (int i = 0; i < 40; ++i) {
        page += "<meta property=\"og:item" + QByteArray::number(i) + "\" content=\"value "
            + QByteArray::number(i) + " with 'quotes' and more\">\n";
        page += "<link rel=\"preload\" href=\"/assets/chunk-" + QByteArray::number(i)
            + ".js\" as=\"script\">\n";
    }
    page += "<style>\n";
    for (int i = 0; i < 400; ++i)
        page += ".c" + QByteArray::number(i) + " > a[href^='http'] { margin: 0 " + QByteArray::number(i % 7)
            + "px; content: \"<\"; }\n";
    page += "</style>\n<script>\n";
    for (int i = 0; i < 400; ++i)
        page += "if (a < " + QByteArray::number(i)
            + " && b > 'x') { s += \"<meta name='x' content='y'>\"; }\n";
    page += "</script>\n</head>\n<body>\n";
    int n = 0;
    while (page.size() < bytes) {
        page += "<div class=\"card c" + QByteArray::number(n % 400) + "\"><h2><a href=\"/post/"
            + QByteArray::number(n) + "\">A heading, number " + QByteArray::number(n)
            + "</a></h2>\n<p>Some text that runs on for a while, with <em>emphasis</em>, "
              "&quot;quotes&quot; and a <a href='/x?a=1&amp;b=2'>link</a>.</p></div>\n";
        ++n;
    }
    page += "</body>\n</html>\n";
    return page;
}

QByteArray adversarialPage(qsizetype bytes)
{
    QByteArray page;
    page.reserve(bytes + 64);
    while (page.size() < bytes)
        page += "<title><meta   name=\"description\"   content=";
    return page;
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bench_links: %s\n", what);
    std::exit(1);
}

struct Figures {
    double oursMs;
    double baselineMs;
};

Figures measure(const QByteArray& page)
{
    static constexpr QByteArrayView absent("<!--absent-->");
    volatile qsizetype sink = 0;
    auto ours = [&] { sink = sink + (TDPageScanner::scan(page).title ? 1 : 0); };
    auto baseline = [&] {
        const qsizetype at = QByteArrayView(page).indexOf(absent);
        if (at >= 0)
            fail("the baseline's needle is in the page");
        sink = sink + at;
    };
    ours();
    baseline();
    std::vector<double> oursTimes, baselineTimes;
    for (int i = 0; i < runs; ++i) {
        oursTimes.push_back(bench::milliseconds(ours));
        baselineTimes.push_back(bench::milliseconds(baseline));
    }
    return { bench::median(oursTimes), bench::median(baselineTimes) };
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);

    const QByteArray realistic = realisticPage(300 * 1000);
    const TDPageInfo info = TDPageScanner::scan(realistic);
    if (info.title != QStringLiteral("Ten ways to keep a sketchbook \u2013 Studio Notes") || info.desc)
        fail("the realistic page did not scan as expected");
    const QByteArray adversarial = adversarialPage(2 * 1024 * 1024);
    const TDPageInfo hostile = TDPageScanner::scan(adversarial);
    if (hostile.title || hostile.desc)
        fail("the adversarial page did not scan as expected");

    std::printf("links: page scan against one indexOf pass over the same bytes; medians of %d runs\n", runs);
    const Figures a = measure(realistic);
    std::printf("realistic page, %.0f KB: ours %.3f ms, baseline %.3f ms, ratio %.2fx (target <= %.0fx)\n",
        realistic.size() / 1000.0, a.oursMs, a.baselineMs, a.oursMs / a.baselineMs, targetRatio);
    const Figures b = measure(adversarial);
    std::printf(
        "adversarial single line, %.1f MiB: ours %.3f ms, baseline %.3f ms, ratio %.2fx (target <= %.0fx, "
        "< %.0f ms)\n",
        adversarial.size() / 1048576.0, b.oursMs, b.baselineMs, b.oursMs / b.baselineMs, targetRatio,
        adversarialTargetMs);
    return 0;
}
