// "How we measure": the page that says what every figure on a result page is, written so
// that our "1 % low" means one thing. Its worked example is the one the client's own
// frame-rate statistics are tested with.

#include "core/protocol.h"
#include "server/page_parts.h"
#include "server/pages.h"

namespace {

// What goes before item i of n in a sentence's list: "a, b and c".
std::string listSeparator(std::size_t i, std::size_t n) { return i == 0 ? "" : i + 1 == n ? " and " : ", "; }

constexpr const char* kIntro = R"html(
<section class="hero"><p class="eyebrow">How we measure</p>
<h1>Every figure, and how it is made</h1>
<p class="sub">What a point is, what the frame rates average over, what our 10&#160;% and 1&#160;% lows are, and the checks the service runs on every result.</p>
<nav class="toc" aria-label="On this page"><a href="#cpu">Processor test</a><a href="#gpu">Graphics test</a><a href="#lows">Average and lows</a><a href="#other-tools">Other tools&#8217; lows</a><a href="#checks">Checks</a></nav>
</section>
)html";

constexpr const char* kProcessor = R"html(
<section class="card prose" id="cpu"><h2>The processor test</h2>
<p>Two kernels, one after the other. Both are classic benchmark programs whose work comes in small, equal units.</p>
<ul>
<li><strong>Integer: permutation flipping</strong> (known as fannkuch-redux) over 16 elements. A worker walks through the permutations of 1&#8230;16; for each one it reverses the first <i>k</i> elements, where <i>k</i> is the first element, until 1 comes first, and counts the reversals (the flips). A unit is one permutation.</li>
<li><strong>Floating point: five-body simulation</strong> (known as n-body) of the Sun, Jupiter, Saturn, Uranus and Neptune, in double precision with a time step of 0.01. A unit is one time step.</li>
</ul>
<h3>What a point is</h3>
<p>A worker&#8217;s points are the work it did, scaled down: its flips divided by 100,000 for the integer kernel, its time steps divided by 10,000 for the floating-point kernel, each rounded down to a whole number. A test&#8217;s score is the sum of its workers&#8217; points. It is an amount of work done in a fixed window, not divided by any measured time, so twice the score is twice the work.</p>
<h3>Thread counts and the two-second window</h3>
<p>Each kernel runs at eleven thread counts: )html";

// The processor section goes on after the thread counts, which come from the protocol.
constexpr const char* kProcessorWindow = R"html(, integer first. That is 22 tests of two seconds each, one after another and never overlapping, followed by a one-second pause; about 45 seconds in all.</p>
<p>Within a test, every worker is launched first and waits at a start gate. When the last worker has been launched the gate opens and the two-second window starts, so every worker works the same window and no more: launching 64 workers on a small processor takes time, and that time counts for none of them. When the window closes each worker finishes the unit it is in (one permutation, one time step) and stops.</p>
<p>The result page shows the <strong>single-thread score</strong> (the test with one worker) and the <strong>best score</strong> over all thread counts, with the thread count that reached it. Above the processor&#8217;s own thread count the workers share it, so a sound curve levels off there instead of climbing on.</p>
</section>
)html";

constexpr const char* kGraphics = R"html(
<section class="card prose" id="gpu"><h2>The graphics test</h2>
<p>Four animated full-screen scenes, drawn with vertical sync off so that the graphics card, not the display, sets the pace: )html";

// The graphics section goes on after the scene list, which comes from the scene table.
constexpr const char* kGraphicsSamples = R"html(</p>
<h3>Frame-rate samples</h3>
<ul>
<li><strong>Warm-up.</strong> The first second of each scene draws frames but counts none, while shaders compile and clocks rise.</li>
<li><strong>Samples.</strong> From then on frames are counted, and whenever more than 10&#160;ms have passed since the last sample, a sample is taken: the frames counted since then divided by the time since then. The first sample window opens when the warm-up ends, so no sample spans it.</li>
<li>So each sample is a frame rate over a window of a little more than 10&#160;ms or longer. At 60 frames per second every frame makes one sample; at 500 about six frames make one; a single frame that takes 50&#160;ms makes one sample of 20 frames per second on its own.</li>
</ul>
</section>
)html";

constexpr const char* kLows = R"html(
<section class="card prose" id="lows"><h2>Average, 10&#160;% low and 1&#160;% low</h2>
<p>When a scene ends, its <i>n</i> samples are sorted from slowest to fastest. Every sample counts once, however long its window was.</p>
<span class="formula">average = (sum of all <i>n</i> samples) &#247; <i>n</i><br>
10&#160;% low = (sum of the slowest <i>h</i> samples) &#247; <i>h</i>, with <i>h</i> = <i>n</i> &#215; 0.1<br>
1&#160;% low = the same with <i>h</i> = <i>n</i> &#215; 0.01</span>
<p>Where <i>h</i> is not a whole number, the slowest &#8970;<i>h</i>&#8971; samples count whole and the next one counts with the fraction of <i>h</i> that is left. The sum is always divided by <i>h</i>, not by the number of samples it touched, so a low is a true mean of the slowest tenth or hundredth and never above the samples it covers, even with few samples. Each of the three figures is then cut to a whole number of frames per second: 59.99 is reported as 59.</p>
<ul>
<li>With <i>n</i> = 250 samples: the average divides the sum of all 250 by 250; the 10&#160;% low adds the 25 slowest and divides by 25; the 1&#160;% low adds the 2 slowest and half of the third slowest, and divides by 2.5.</li>
<li>With <i>n</i> = 1005: the 10&#160;% low adds the 100 slowest and half of the 101st, and divides by 100.5.</li>
<li>With <i>n</i> = 5 and a slowest sample of 40: <i>h</i> = 0.5, half of that sample is added, and the 10&#160;% low is 20 &#247; 0.5 = 40.</li>
</ul>
</section>
)html";

constexpr const char* kOtherTools = R"html(
<section class="card prose" id="other-tools"><h2>How other tools&#8217; lows differ</h2>
<p>Many tools record the time of every single frame and report a <strong>percentile of frame times</strong>: the &#8220;1&#160;% low&#8221; is then the frame time that 99&#160;% of frames beat, turned into frames per second. Others weight each frame by <strong>how long it lasted</strong>: the &#8220;1&#160;% low&#8221; is the frame rate during the slowest 1&#160;% of the run&#8217;s time. Ours is the mean of the slowest 1&#160;% of samples, and every sample is a window of at least 10&#160;ms. The three can tell different stories about the same run.</p>
<h3>Worked example</h3>
<p>Take 10.1 seconds in the middle of a scene: 9.6 seconds of smooth 8&#160;ms frames (125 frames per second) and ten hitches, single frames of 50&#160;ms each, 0.5 seconds in all. That is 1,210 frames.</p>
<ul>
<li>Our samples: each pair of smooth frames is one 16&#160;ms window at 125 frames per second, 600 samples; each hitch is one 50&#160;ms window of one frame, a sample of 20 frames per second, 10 samples. <i>n</i> = 610.</li>
<li>Our average: (600 &#215; 125 + 10 &#215; 20) &#247; 610 = 75,200 &#247; 610 = 123.3, reported as <strong>123</strong>.</li>
<li>Our 10&#160;% low: <i>h</i> = 61, the 10 hitches and 51 smooth samples: (10 &#215; 20 + 51 &#215; 125) &#247; 61 = 6,575 &#247; 61 = 107.8, reported as <strong>107</strong>.</li>
<li>Our 1&#160;% low: <i>h</i> = 6.1, six hitch samples and a tenth of a seventh: 6.1 &#215; 20 &#247; 6.1 = <strong>20</strong>.</li>
</ul>
<table><thead><tr><th>Figure</th><th class="num">Ours</th><th class="num">Percentile of frame times</th><th class="num">Weighted by time</th></tr></thead><tbody>
<tr><td>Average</td><td class="num">123</td><td class="num">119.8</td><td class="num">119.8</td></tr>
<tr><td>10&#160;% low</td><td class="num">107</td><td class="num">125</td><td class="num">125</td></tr>
<tr><td>1&#160;% low</td><td class="num">20</td><td class="num">125</td><td class="num">20</td></tr>
</tbody></table>
<ul>
<li><strong>Average elsewhere:</strong> frames divided by time, 1,210 &#247; 10.1 s = 119.8. Ours is a little higher because the 0.5 seconds of hitches make only 10 of the 610 samples.</li>
<li><strong>Percentile of frame times:</strong> the 10 hitches are 0.8&#160;% of the 1,210 frames, fewer than 1&#160;%, so the 99th percentile frame time is still 8&#160;ms: a &#8220;1&#160;% low&#8221; of 125 that hides the stutter completely.</li>
<li><strong>Weighted by time:</strong> the hitches fill 0.5 of 10.1 seconds, 5&#160;% of the time, so the slowest 1&#160;% of the time runs at 20 frames per second; the slowest 10&#160;% reaches into the smooth frames, whose 8&#160;ms set the 10&#160;% figure at 125.</li>
</ul>
<p>Our 1&#160;% low sees the hitches as time weighting does, and our 10&#160;% low still shows them where a percentile does not. Compare lows only between results measured the same way.</p>
</section>
)html";

}  // namespace

std::string renderMethodologyPage() {
    std::string h = sharedPageHead("How we measure \xC2\xB7 Tallyforge Benchmark",
                                   "How the Tallyforge Benchmark measures: points, windows, frame-rate samples, "
                                   "the exact 10 % and 1 % lows, and the checks on every result.");
    h += "<main class=\"wrap narrow\">";
    h += kIntro;
    h += kProcessor;
    for (std::size_t i = 0; i < kThreadCounts.size(); ++i) {
        h += listSeparator(i, kThreadCounts.size()) + std::to_string(kThreadCounts[i]);
    }
    h += kProcessorWindow;
    h += kGraphics;
    for (std::size_t i = 0; i < kScenes.size(); ++i) {
        h += listSeparator(i, kScenes.size()) + std::string(kScenes[i].title) + " for " +
             std::to_string(kScenes[i].durationSeconds) + (i == 0 ? " seconds" : "");
    }
    h += kGraphicsSamples;
    h += kLows;
    h += kOtherTools;
    h += "<section class=\"card prose\" id=\"checks\"><h2>Checks on every result</h2>"
         "<p>The service checks every stored result, old ones included, from the document as it was sent. "
         "A result that raises a check stays stored and visible, and its page says what was found and what "
         "to do, but it does not count in the standings of other results. A clean result raises none.</p>";
    for (const ResultCheck& c : allResultChecks()) {
        h += "<div class=\"check\" data-check-definition=\"" + std::string(c.name) + "\"><h3>" +
             htmlEscape(c.title) + " <code>" + c.name + "</code></h3><p>" + htmlEscape(c.sentence) +
             "</p><p class=\"todo\"><strong>What to do:</strong> " + htmlEscape(c.remedy) + "</p></div>";
    }
    h += "<h3>Exact definitions</h3><ul>"
         "<li><code>software-renderer</code>: the OpenGL renderer or vendor names, in any letter case, "
         "llvmpipe, softpipe, swrast, SwiftShader, Microsoft Basic Render Driver, GDI Generic, or a software "
         "rasterizer or renderer.</li>"
         "<li><code>cpu-over-capacity</code>: for either kernel, a score at <i>n</i> threads above " +
         thresholdText(kOverCapacityFactor) + " &#215; min(<i>n</i>, <i>t</i>) &#215; the single-thread score, where <i>t</i> is the "
         "processor&#8217;s thread count. Not checked where <i>t</i> or the single-thread score is unknown or 0.</li>"
         "<li><code>cpu-disturbed</code>: for either kernel, a score at <i>n</i> &#8804; <i>t</i> threads "
         "below " + thresholdText((100 - kDisturbedDropPercent) / 100.0) +
         " &#215; the best score at fewer threads. Not checked where <i>t</i> is unknown; "
         "scores of 0 are left to <code>cpu-incomplete</code>.</li>"
         "<li><code>cpu-incomplete</code>: a kernel without a score at one of the eleven thread counts, or "
         "with a score of 0.</li>"
         "<li><code>gpu-too-slow</code>: a scene whose average is under " + std::to_string(kSlowestComparableFps) +
         " frames per second.</li></ul>"
         "</section>";
    h += "<footer><a href=\"/benchmarks\">Recent results</a></footer></main>";
    h += kSharedPageEnd;
    return h;
}
