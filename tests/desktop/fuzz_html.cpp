/* fuzz_html.cpp -- libFuzzer target for the HTML view's parser and layout.
 * Input bytes are read as lenient UTF-8 in which encoded surrogates and raw
 * bytes pass through, so the text seeds stay readable while lone surrogates
 * and zeros are still reachable.  Checks that every box and run stays inside
 * the document and that lines go downwards. */
#include "htmlview.h"
#include "htmltest.h"

#include <stdlib.h>

#include <string>

namespace {

/* Widths that vary by character, with zero-width ones among them. */
class Measurer : public HtmlMeasurer {
public:
    HtmlFontMetrics Metrics(const HtmlStyle &s) override { return {3 * s.size + (s.flags & 1), s.size}; }
    int TextWidth(const HtmlStyle &s, const char16_t *text, size_t length) override
    {
        int w = 0;
        for (size_t i = 0; i < length; ++i)
            w += (text[i] % 5) * s.size / 3;
        return w;
    }
};

void Check(bool ok)
{
    if (!ok)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::u16string source = DecodeLenient(data, size);
    HtmlDocument doc;
    Check(ParseHtml(source.data(), source.size(), &doc));
    Check(!doc.styles.empty());
    for (const HtmlRun &r : doc.runs) {
        Check(r.start <= doc.text.size() && r.length <= doc.text.size() - r.start);
        Check(r.style < doc.styles.size());
        Check(r.link < (int32_t)doc.links.size());
    }
    for (const HtmlBlock &b : doc.blocks) {
        Check(b.firstRun <= doc.runs.size() && b.runCount <= doc.runs.size() - b.firstRun);
        Check(b.markerStart <= doc.text.size() && b.markerLength <= doc.text.size() - b.markerStart);
        Check(b.indent <= HtmlMaxIndent);
    }
    Measurer measurer;
    for (int width : {1, 37, 228}) {
        HtmlLayout layout;
        Check(LayoutHtml(doc, measurer, width, &layout));
        int bottom = -1000000;
        for (const HtmlLine &line : layout.lines) {
            Check(line.top >= bottom && line.height >= 0);
            bottom = line.top + line.height;
            Check(line.firstBox <= layout.boxes.size() &&
                  line.boxCount <= layout.boxes.size() - line.firstBox);
        }
        Check(layout.height >= bottom);
        for (const HtmlBox &b : layout.boxes)
            Check(b.start <= doc.text.size() && b.length <= doc.text.size() - b.start && b.length > 0);
        for (int y = -1; y < layout.height + 2; y += 7)
            Check(HtmlLinkAt(layout, width / 2, y) < (int)doc.links.size());
    }
    return 0;
}
