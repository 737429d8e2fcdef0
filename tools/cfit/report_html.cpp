#include "report_html.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "common.h"

extern const char kUplotScript[];
extern const char kUplotStyle[];

namespace cfit_tool {

namespace {

// Points per chart after decimation.
constexpr std::size_t kPointBudget = 4000;

struct Unit {
  double scale = 1.0;
  const char* name = "";
};

// The unit that brings `largest` into [1, 1000).
Unit FrequencyUnit(double largest) {
  static const Unit kUnits[] = {{1e12, "THz"}, {1e9, "GHz"}, {1e6, "MHz"}, {1e3, "kHz"}};
  for (const Unit& u : kUnits) {
    if (largest >= u.scale) return u;
  }
  return {1.0, "Hz"};
}

Unit TimeUnit(double largest) {
  static const Unit kUnits[] = {{1.0, "s"}, {1e-3, "ms"}, {1e-6, "us"}, {1e-9, "ns"}};
  for (const Unit& u : kUnits) {
    if (largest >= u.scale) return u;
  }
  return {1e-12, "ps"};
}

std::string Escape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// A JSON string that may stand inside a script element.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '<') {
      out += "\\u003c";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", c);
      out += code;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonNumber(double v) {
  if (!std::isfinite(v)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.7g", v);
  return text;
}

std::string JsonArray(const std::vector<double>& values, const std::vector<std::size_t>& keep) {
  std::string out = "[";
  for (std::size_t k = 0; k < keep.size(); ++k) {
    if (k > 0) out += ',';
    out += JsonNumber(values[keep[k]]);
  }
  return out + "]";
}

// {"x":[...],"series":[{"label":..,"y":[...]}...]} with the points decimated
// over all series together.
std::string JsonChart(const std::vector<double>& x,
                      const std::vector<std::pair<std::string, std::vector<double>>>& series) {
  std::vector<const std::vector<double>*> ys;
  for (const auto& s : series) ys.push_back(&s.second);
  const std::vector<std::size_t> keep = DecimationIndices(x, ys, kPointBudget);
  std::string out = "{\"x\":" + JsonArray(x, keep) + ",\"series\":[";
  for (std::size_t k = 0; k < series.size(); ++k) {
    if (k > 0) out += ',';
    out += "{\"label\":" + JsonString(series[k].first) +
           ",\"y\":" + JsonArray(series[k].second, keep) + "}";
  }
  return out + "]}";
}

std::string Anchor(const ElementCurves& e) {
  return "el-" + std::to_string(e.i + 1) + "-" + std::to_string(e.j + 1);
}

const ElementCurves* Plotted(const ReportData& r, int i, int j) {
  for (const ElementCurves& e : r.elements) {
    if (e.i == i && e.j == j) return &e;
  }
  return nullptr;
}

std::string ElementLink(const ReportData& r, int i, int j) {
  const std::string name = ElementName(r.summary.type, r.summary.ports, i, j);
  const ElementCurves* e = Plotted(r, i, j);
  return e ? "<a href=\"#" + Anchor(*e) + "\">" + name + "</a>" : name;
}

std::string RunSection(const ReportData& r) {
  std::string out = "<section id=\"run\"><h2>Run</h2><table class=\"run\">";
  for (const auto& [label, value] : r.run) {
    out += "<tr><th>" + Escape(label) + "</th><td>" + Escape(value) + "</td></tr>";
  }
  return out + "</table></section>\n";
}

std::string SummarySection(const ReportData& r) {
  const FitSummary& s = r.summary;
  std::string out = "<section id=\"summary\"><h2>Accuracy</h2>";
  std::vector<const ElementFit*> rows;
  for (const ElementFit& e : s.elements) rows.push_back(&e);
  if (s.measured) {
    std::stable_sort(rows.begin(), rows.end(), [](const ElementFit* a, const ElementFit* b) {
      return a->largest > b->largest;
    });
    if (const ElementFit* w = WorstElement(s)) {
      out += "<p class=\"verdict\">Worst element " + ElementLink(r, w->i, w->j) +
             ": largest error " + FormatNumber(w->largest) + " at " +
             FormatFrequency(w->largestAt) + " (rms " + FormatNumber(w->rms) + ").</p>";
    }
  } else {
    out += "<p>No data were given: the model is shown alone.</p>";
  }
  // Hundreds of elements would push everything else far down the page: a
  // long table scrolls in its own box (worst first, so the top is what
  // matters), and prints whole.
  out += rows.size() > 24 ? "<div class=\"scroll\">" : "<div>";
  out +=
      "<table class=\"summary\"><thead><tr><th>element</th><th>poles</th><th>delay</th>"
      "<th>rms error</th><th>max error</th><th>at</th></tr></thead><tbody>";
  for (const ElementFit* e : rows) {
    out += "<tr><td>" + ElementLink(r, e->i, e->j) + "</td><td>" +
           (e->poles >= 0 ? std::to_string(e->poles) : "-") + "</td><td>" +
           (e->hasDelay ? FormatTime(e->delay) : "-") + "</td><td>" +
           (s.measured ? FormatNumber(e->rms) : "-") + "</td><td>" +
           (s.measured ? FormatNumber(e->largest) : "-") + "</td><td>" +
           (s.measured ? FormatFrequency(e->largestAt) : "-") + "</td></tr>";
  }
  return out + "</tbody></table></div></section>\n";
}

// Colour of an error on a log scale between the smallest and largest RMS.
std::string HeatColour(double value, double low, double high) {
  double t = 0.5;
  if (value > 0.0 && high > low) t = (std::log10(value) - low) / (high - low);
  t = std::clamp(t, 0.0, 1.0);
  char text[40];
  // From pale green through yellow to red.
  std::snprintf(text, sizeof text, "hsl(%.0f,75%%,%.0f%%)", 120.0 * (1.0 - t), 85.0 - 30.0 * t);
  return text;
}

std::string HeatMapSection(const ReportData& r) {
  const FitSummary& s = r.summary;
  if (s.ports <= 4 || !s.measured) return "";
  const int n = s.ports;
  std::vector<double> rms(static_cast<std::size_t>(n) * n, NAN);
  double low = INFINITY, high = -INFINITY;
  for (const ElementFit& e : s.elements) {
    rms[static_cast<std::size_t>(e.i) * n + e.j] = e.rms;
    if (s.symmetric) rms[static_cast<std::size_t>(e.j) * n + e.i] = e.rms;
    if (e.rms > 0.0) {
      low = std::min(low, std::log10(e.rms));
      high = std::max(high, std::log10(e.rms));
    }
  }
  std::string out =
      "<section id=\"heatmap\"><h2>RMS error per element</h2><p>Row i, column j; "
      "colour from green (smallest RMS error) to red (largest), on a log scale. Linked cells "
      "have plots below.</p><table class=\"heat\"><tr><th></th>";
  for (int j = 0; j < n; ++j) out += "<th>" + std::to_string(j + 1) + "</th>";
  out += "</tr>";
  for (int i = 0; i < n; ++i) {
    out += "<tr><th>" + std::to_string(i + 1) + "</th>";
    for (int j = 0; j < n; ++j) {
      const double v = rms[static_cast<std::size_t>(i) * n + j];
      const int pi = s.symmetric && j > i ? j : i;
      const int pj = s.symmetric && j > i ? i : j;
      const std::string name = ElementName(s.type, n, pi, pj);
      const ElementCurves* e = Plotted(r, pi, pj);
      std::string cell = e ? "<a href=\"#" + Anchor(*e) + "\">&#9679;</a>" : "";
      out += "<td style=\"background:" + HeatColour(v, low, high) + "\" title=\"" + name + " rms " +
             FormatNumber(v) + "\">" + cell + "</td>";
    }
    out += "</tr>";
  }
  return out + "</table></section>\n";
}

std::string ElementsSection(const ReportData& r, const Unit& f, std::string* json) {
  std::string out = "<section id=\"elements\"><h2>Elements</h2>";
  *json += "\"elements\":[";
  bool first = true;
  for (const ElementCurves& e : r.elements) {
    const std::string name = ElementName(r.summary.type, r.summary.ports, e.i, e.j);
    out += "<div class=\"element\" id=\"" + Anchor(e) + "\"><h3>" + name + "</h3>";
    for (const char* kind : {"mag", "phase", "error"}) {
      if (std::string(kind) == "error" && e.data.empty()) continue;
      out += "<div class=\"chart\" data-chart=\"" + std::string(kind) + "\" data-element=\"" +
             Anchor(e) + "\"></div>";
    }
    out += "</div>";

    std::vector<double> x, magModel, magData, phaseModel, phaseData, error;
    for (std::size_t k = 0; k < e.frequencies.size(); ++k) {
      x.push_back(e.frequencies[k] / f.scale);
      magModel.push_back(20.0 * std::log10(std::abs(e.model[k])));
      phaseModel.push_back(std::arg(e.model[k]) * 180.0 / M_PI);
      if (!e.data.empty()) {
        magData.push_back(20.0 * std::log10(std::abs(e.data[k])));
        phaseData.push_back(std::arg(e.data[k]) * 180.0 / M_PI);
        const double d = std::abs(e.model[k] - e.data[k]);
        error.push_back(d > 0.0 ? d : NAN);  // a log axis has no place for 0
      }
    }
    using Series = std::vector<std::pair<std::string, std::vector<double>>>;
    Series mag, phase;
    if (!e.data.empty()) mag.push_back({"data", magData});
    mag.push_back({"model", magModel});
    if (!e.data.empty()) phase.push_back({"data", phaseData});
    phase.push_back({"model", phaseModel});
    *json += std::string(first ? "" : ",") + "{\"id\":" + JsonString(Anchor(e)) +
             ",\"name\":" + JsonString(name) + ",\"mag\":" + JsonChart(x, mag) +
             ",\"phase\":" + JsonChart(x, phase);
    if (!e.data.empty()) *json += ",\"error\":" + JsonChart(x, {{"|model - data|", error}});
    *json += "}";
    first = false;
  }
  *json += "]";
  return out + "</section>\n";
}

std::string PassivitySection(const ReportData& r, const Unit& f, std::string* json) {
  std::string out =
      "<section id=\"passivity\"><h2>Passivity</h2><p>The measure is " +
      Escape(MeasureMeaning(r.dataType)) +
      "; the network is passive where it is at most 1. The model is swept beyond the data "
      "band (shaded grey); stretches where a curve exceeds 1 are shaded red.</p>";
  *json += ",\"passivity\":{\"curves\":[";
  std::string bands =
      "<table class=\"bands\"><tr><th>curve</th><th>from</th><th>to</th>"
      "<th>peak</th><th>at</th></tr>";
  bool anyBand = false;
  for (std::size_t k = 0; k < r.passivity.size(); ++k) {
    const MeasureCurve& c = r.passivity[k];
    std::vector<double> x;
    for (const double v : c.frequencies) x.push_back(v / f.scale);
    *json += std::string(k ? "," : "") + JsonChart(x, {{c.label, c.measures}});
    for (const ViolationBand& b : c.bands) {
      anyBand = true;
      bands += "<tr><td>" + Escape(c.label) + "</td><td>" + FormatFrequency(b.from) + "</td><td>" +
               FormatFrequency(b.to) + "</td><td>" + FormatMeasure(b.peak) + "</td><td>" +
               FormatFrequency(b.peakAt) + "</td></tr>";
    }
    if (!c.known) out += "<p>" + Escape(c.label) + ": the library could not measure it.</p>";
    if (c.atInfinity >= 0.0) {
      out += "<p>" + Escape(c.label) +
             " towards infinite frequency: " + FormatMeasure(c.atInfinity) +
             (c.atInfinity > 1.0 ? " (not passive)" : "") + "</p>";
    }
  }
  *json += "],\"violations\":[";
  bool first = true;
  for (const MeasureCurve& c : r.passivity) {
    for (const ViolationBand& b : c.bands) {
      *json += std::string(first ? "" : ",") + "[" + JsonNumber(b.from / f.scale) + "," +
               JsonNumber(b.to / f.scale) + "]";
      first = false;
    }
  }
  *json += "],\"band\":" +
           (r.bandHigh > r.bandLow ? "[" + JsonNumber(r.bandLow / f.scale) + "," +
                                         JsonNumber(r.bandHigh / f.scale) + "]"
                                   : std::string("null")) +
           "}";
  out += "<div class=\"chart\" data-chart=\"passivity\"></div>";
  out += anyBand ? bands + "</table>" : "<p>No curve exceeds 1 at its points.</p>";
  return out + "</section>\n";
}

std::string Tick(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", v);
  return text;
}

// A step of 1, 2 or 5 times a power of ten giving about four ticks over
// `span`.
double NiceStep(double span) {
  const double raw = span / 4.0;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double m : {1.0, 2.0, 5.0}) {
    if (m * power >= raw) return m * power;
  }
  return 10.0 * power;
}

std::string PoleSection(const ReportData& r) {
  std::string out = "<section id=\"poles\"><h2>Poles</h2>";
  if (r.poles.empty()) return out + "<p>The model has no poles.</p></section>\n";
  double reach = 0.0;
  for (const PolePoint& p : r.poles) reach = std::max({reach, std::abs(p.re), std::abs(p.im)});
  const Unit u = FrequencyUnit(reach);
  double left = 0.0, right = 0.0, top = 0.0;
  for (const PolePoint& p : r.poles) {
    left = std::min(left, p.re / u.scale);
    right = std::max(right, p.re / u.scale);
    top = std::max(top, std::abs(p.im) / u.scale);
  }
  if (top == 0.0) top = std::max(1.0, -left);
  if (left == right) left = -1.0;
  const double pad = 0.05 * (right - left);
  left -= pad;
  right += pad;
  top *= 1.05;
  constexpr double kW = 520, kH = 420, kL = 70, kT = 20, kPlotW = 430, kPlotH = 350;
  const auto X = [&](double v) { return kL + (v - left) / (right - left) * kPlotW; };
  const auto Y = [&](double v) { return kT + (top - v) / (2 * top) * kPlotH; };
  char buf[256];
  out += "<p>" + std::to_string(r.poleCount) +
         " poles of all elements as s/(2&#960;); near-equal poles are drawn once, unstable "
         "ones (right half-plane) in red.</p>";
  std::snprintf(buf, sizeof buf,
                "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"polemap\" width=\"%.0f\" "
                "height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\">",
                kW, kH, kW, kH);
  out += buf;
  std::snprintf(buf, sizeof buf,
                "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" "
                "stroke=\"#888\"/>",
                kL, kT, kPlotW, kPlotH);
  out += buf;
  const double xStep = NiceStep(right - left), yStep = NiceStep(2 * top);
  for (double xv = std::ceil(left / xStep) * xStep; xv <= right; xv += xStep) {
    std::snprintf(buf, sizeof buf,
                  "<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\" text-anchor=\"middle\">%s</text>",
                  X(xv), kT + kPlotH + 14, Tick(std::abs(xv) < 1e-9 * xStep ? 0.0 : xv).c_str());
    out += buf;
  }
  for (double yv = std::ceil(-top / yStep) * yStep; yv <= top; yv += yStep) {
    std::snprintf(buf, sizeof buf,
                  "<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\" text-anchor=\"end\">%s</text>",
                  kL - 4, Y(yv) + 4, Tick(std::abs(yv) < 1e-9 * yStep ? 0.0 : yv).c_str());
    out += buf;
  }
  std::snprintf(buf, sizeof buf,
                "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#bbb\"/>"
                "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#bbb\"/>",
                X(left), Y(0), X(right), Y(0), X(0), Y(top), X(0), Y(-top));
  out += buf;
  std::snprintf(buf, sizeof buf,
                "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" text-anchor=\"middle\">real part "
                "(%s)</text><text x=\"14\" y=\"%.1f\" font-size=\"12\" text-anchor=\"middle\" "
                "transform=\"rotate(-90 14 %.1f)\">imaginary part (%s)</text>",
                kL + kPlotW / 2, kH - 4, u.name, kT + kPlotH / 2, kT + kPlotH / 2, u.name);
  out += buf;
  for (const PolePoint& p : r.poles) {
    std::snprintf(buf, sizeof buf, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2.5\" fill=\"%s\"/>",
                  X(p.re / u.scale), Y(p.im / u.scale), p.re > 0 ? "#d00" : "#1f5fbf");
    out += buf;
  }
  return out + "</svg></section>\n";
}

std::string StepSection(const ReportData& r, std::string* json) {
  if (r.steps.empty()) return "";
  const Unit t = TimeUnit(r.stepTimes.back());
  std::vector<double> x;
  for (const double v : r.stepTimes) x.push_back(v / t.scale);
  std::vector<std::pair<std::string, std::vector<double>>> series;
  for (const StepCurve& c : r.steps) {
    series.push_back({ElementName(r.summary.type, r.summary.ports, c.i, c.i), c.values});
  }
  *json += ",\"step\":" + JsonChart(x, series) + ",\"timeUnit\":" + JsonString(t.name);
  return "<section id=\"step\"><h2>Step responses</h2><p>Unit step response of the diagonal "
         "elements, including their delays.</p><div class=\"chart\" data-chart=\"step\"></div>"
         "</section>\n";
}

constexpr const char* kStyle = R"CSS(
body{font:14px/1.4 system-ui,sans-serif;margin:20px auto;max-width:960px;color:#222}
h1{font-size:22px}h2{font-size:18px;border-bottom:1px solid #ccc;margin-top:28px}
h3{font-size:15px;margin:18px 0 4px}
table{border-collapse:collapse}td,th{padding:2px 8px;text-align:left}
table.summary td,table.summary th,table.bands td,table.bands th{border-bottom:1px solid #ddd}
table.run th{font-weight:600;vertical-align:top}
table.heat{font-size:10px}table.heat td{width:16px;height:16px;padding:0;text-align:center}
table.heat a{color:#222;text-decoration:none}
.chart{width:900px;margin:6px 0;break-inside:avoid}
.element{break-inside:avoid}.verdict{font-weight:600}
div.scroll{max-height:420px;overflow-y:auto;display:inline-block}
div.scroll thead th{position:sticky;top:0;background:#fff}
#error{color:#b00;font-weight:600}
@media print{body{margin:0}a{color:inherit}section{break-inside:auto}
div.scroll{max-height:none;overflow:visible}}
)CSS";

constexpr const char* kScript = R"JS(
(function(){
const R=JSON.parse(document.getElementById('report-data').textContent);
const colours=['#1f5fbf','#d9480f','#2b8a3e','#862e9c','#c92a2a','#e67700','#0b7285','#5f3dc4'];
function num(v){if(v==null)return '';const a=Math.abs(v);
 return (a!==0&&(a<1e-3||a>=1e5))?v.toExponential(1):String(Number(v.toPrecision(4)));}
function ticks(u,vals){return vals.map(num);}
function style(l,k){if(l==='data')return {stroke:'#9bb8e6',width:4};
 if(l==='model')return {stroke:'#c2410c',width:1.5};return {stroke:colours[k%colours.length],width:1.5};}
let made=0;
function shade(ranges,fill){return u=>{const c=u.ctx;c.save();c.fillStyle=fill;
 for(const [a,b] of ranges){const x0=u.valToPos(a,'x',true),x1=u.valToPos(b,'x',true);
  c.fillRect(Math.min(x0,x1),u.bbox.top,Math.max(Math.abs(x1-x0),2),u.bbox.height);}c.restore();};}
function chart(el,title,xlabel,ylabel,data,labels,opts){
 opts=opts||{};
 const series=[{label:xlabel,value:(u,v)=>num(v)}].concat(labels.map((l,k)=>Object.assign(
  {label:l,spanGaps:true,value:(u,v)=>num(v)},style(l,k))));
 const scales={x:{time:false}};
 if(opts.ylog)scales.y={distr:3};
 const hooks={};
 if(opts.shades)hooks.drawClear=[opts.shades];
 const u=new uPlot({title:title,width:880,height:opts.height||260,scales:scales,series:series,hooks:hooks,
  axes:[{label:xlabel,values:ticks},{label:ylabel,size:70,values:ticks}],cursor:{drag:{x:true,y:false}}},data,el);
 el.dataset.check=JSON.stringify({labels:labels,points:u.data[0].length,
  x:Array.from(u.data[0].slice(0,16)),y:u.data.slice(1).map(a=>Array.from(a.slice(0,16)))});
 made++;return u;}
function plain(c){return [c.x].concat(c.series.map(s=>s.y));}
const fu=R.frequencyUnit;
for(const e of R.elements){
 const box=document.getElementById(e.id);
 for(const el of box.querySelectorAll('.chart')){
  const k=el.dataset.chart,c=e[k];
  if(k==='mag')chart(el,e.name+' magnitude','frequency ('+fu+')','dB',plain(c),c.series.map(s=>s.label));
  if(k==='phase')chart(el,e.name+' phase','frequency ('+fu+')','degrees',plain(c),c.series.map(s=>s.label));
  if(k==='error')chart(el,e.name+' error','frequency ('+fu+')','|model - data|',plain(c),c.series.map(s=>s.label),{ylog:true});
 }}
const pel=document.querySelector('[data-chart=passivity]');
if(pel&&R.passivity.curves.length){
 const p=R.passivity,tables=p.curves.map(c=>[c.x,c.series[0].y]);
 const data=tables.length>1?uPlot.join(tables):tables[0];
 const grey=shade(p.band?[p.band]:[],'rgba(0,0,0,0.06)'),red=shade(p.violations,'rgba(220,0,0,0.15)');
 chart(pel,'Passivity measure','frequency ('+R.passivityUnit+')','measure',data,p.curves.map(c=>c.series[0].label),
  {height:300,shades:u=>{grey(u);red(u);}});
}
const sel=document.querySelector('[data-chart=step]');
if(sel&&R.step)chart(sel,'Step responses','time ('+R.timeUnit+')','response',plain(R.step),R.step.series.map(s=>s.label));
document.body.dataset.charts=made;
})();
)JS";

}  // namespace

std::string ReportHtml(const ReportData& r) {
  // The element plots and the passivity sweep, which reaches far beyond the
  // data, each get the unit of their own top frequency.
  double top = r.bandHigh;
  for (const ElementCurves& e : r.elements) {
    if (!e.frequencies.empty()) top = std::max(top, e.frequencies.back());
  }
  const Unit f = FrequencyUnit(top);
  for (const MeasureCurve& c : r.passivity) {
    if (!c.frequencies.empty()) top = std::max(top, c.frequencies.back());
  }
  const Unit fp = FrequencyUnit(top);
  std::string json = "{\"frequencyUnit\":" + JsonString(f.name) +
                     ",\"passivityUnit\":" + JsonString(fp.name) + ",";
  std::string body = "<h1>Fit report: " + Escape(r.title) + "</h1>\n<p id=\"error\"></p>\n";
  body += RunSection(r) + SummarySection(r) + HeatMapSection(r);
  body += ElementsSection(r, f, &json);
  body += PassivitySection(r, fp, &json);
  body += PoleSection(r);
  body += StepSection(r, &json);
  json += "}";

  std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>";
  page += Escape("cfit report: " + r.title) + "</title>\n<style>\n";
  page += kUplotStyle;
  page += kStyle;
  page +=
      "</style>\n<script>\nwindow.addEventListener('error',function(e){var p=document."
      "getElementById('error');if(p)p.textContent='The page failed: '+e.message;});\n";
  page += kUplotScript;
  page += "\n</script>\n</head><body>\n" + body;
  page += "<script type=\"application/json\" id=\"report-data\">" + json + "</script>\n<script>";
  page += kScript;
  page += "</script>\n</body></html>\n";
  return page;
}

void WriteReport(const ReportData& report, const std::filesystem::path& path) {
  std::ofstream out(path, std::ios::binary);
  const std::string page = ReportHtml(report);
  out.write(page.data(), static_cast<std::streamsize>(page.size()));
  out.close();
  if (!out) throw Failure("cannot write the report " + path.string());
}

}  // namespace cfit_tool
