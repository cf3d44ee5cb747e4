// DXF reader (see dxf/dxf_reader.h).
//
// dxflib calls us once per entity; we see every group code too, which gives the line
// numbers for messages and the few values dxflib does not hand on (a dimension's block,
// a hatch's pattern lines). Entities of the ENTITIES section are drawn as they come;
// entities of block definitions are kept (unflattened, in block units) and drawn for
// each INSERT with the insert's transform, so flattening uses the final scale. A
// drawing is read twice by the pipeline (extents, then plot): nothing is held beyond
// the block definitions.
#include "dxf/dxf_reader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <numbers>
#include <vector>

#include "dl_creationadapter.h"
#include "dl_dxf.h"
#include "drawing/plot_writer.h"
#include "drawing/stroke_font.h"
#include "system/text.h"

namespace {

constexpr double pi = std::numbers::pi;
constexpr long absurd_count = 10000000;          // vertices, knots, edges in one entity
constexpr long array_limit = 100000;             // INSERT columns x rows
constexpr long long expansion_limit = 200000000; // entities drawn after all inserts
constexpr int nesting_limit = 64;

// Colour, line type and weight as written on an entity (before BYLAYER/BYBLOCK).
struct dxf_attr {
    std::string layer;
    int colour;           // 1..255; 0 BYBLOCK; 256 BYLAYER
    std::string linetype; // name; "BYLAYER", "BYBLOCK"
    int weight;           // 1/100 mm; -1 BYLAYER, -2 BYBLOCK, -3 default
};

enum class kind {
    line,
    point,
    polyline,
    arc,
    circle,
    ellipse,
    spline,
    solid,
    hatch,
    text,
    mtext,
    insert,
    dimension
};

// One entity as kept for a block (or drawn at once). Numbers by kind:
//   line: x1 y1 x2 y2; point: x y; arc: cx cy r a0 a1 (degrees); circle: cx cy r;
//   ellipse: cx cy mx my ratio t0 t1; solid: x1 y1 .. x4 y4;
//   insert: x y sx sy angle cols rows colsp rowsp
struct entity {
    kind k;
    dxf_attr a;
    long line;                                     // the line of its "0" group, for messages
    std::vector<double> v;                         // numbers (see above)
    std::vector<drawing_point> pts;                // polyline vertices, spline control points
    std::vector<double> extra;                     // bulges; spline knots
    std::vector<double> weights;                   // spline weights
    std::vector<std::vector<drawing_point>> rings; // hatch boundary loops (flattened)
    std::vector<std::vector<double>> pattern;      // hatch pattern lines
    bool closed = false, solid = false;
    int degree = 0;
    std::string s;  // text, block name
    text_run run{}; // text
};

struct layer_info {
    int colour = 7;
    bool off = false, frozen = false;
    std::string linetype = "CONTINUOUS";
    int weight = -3;
};

// What INSERT passes down to the entities of its block.
struct context {
    const std::string* layer; // the insert's layer (for entities on layer 0)
    int colour;               // resolved colour of the insert (for BYBLOCK)
    int line_type;            // resolved driver line type
    double weight_mm;         // resolved weight, < 0 none
};

// An anticlockwise sweep from a difference of angles: in (0, turn]; NaN when the angles
// are no numbers.
double sweep_of(double difference, double turn) {
    if (!std::isfinite(difference)) return std::numeric_limits<double>::quiet_NaN();
    double r = std::fmod(difference, turn);
    return r <= 0 ? r + turn : r;
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The driver's pattern closest to a DXF dash list (positive dash, negative gap, 0 dot).
int line_type_of(const std::vector<double>& dashes) {
    std::vector<double> marks; // drawn elements, 0 for dots
    double gaps = 0, longest = 0;
    for (double d : dashes) {
        if (d < 0)
            gaps += -d;
        else
            marks.push_back(d), longest = std::max(longest, d);
    }
    if (marks.empty() || gaps == 0) return 0;
    auto dot = [&](double m) { return m <= longest * 0.15 || m == 0; };
    size_t dots = std::count_if(marks.begin(), marks.end(), dot);
    if (longest == 0 || dots == marks.size()) return 1; // dotted
    if (marks.size() == 1) {                            // dashed: long gaps or short gaps
        return gaps >= 0.8 * longest ? 2 : 3;
    }
    if (marks.size() == 2) return dots == 1 ? 4 : 5; // dash dot, dash short dash
    if (dots >= 2) return 7;                         // dash dot dot
    return 6;                                        // dash and short dashes
}

struct reader : DL_CreationAdapter {
    std::string name;
    drawing_sink* sink;
    drawing_report* report;

    // Group code tracking.
    long pairs = 0;
    std::string cur_type, prev_type; // record types of the current and previous "0" group
    long cur_line = 0, prev_line = 0;
    std::string cur_block_ref, prev_block_ref;                  // code 2 of a DIMENSION
    std::vector<std::vector<double>> cur_pattern, prev_pattern; // HATCH pattern lines
    bool cur_pattern_on = false;
    std::string cur_ltype_name;
    std::vector<double> cur_dashes;

    // Tables and header.
    std::map<std::string, layer_info> layers;
    std::map<std::string, int> linetypes; // upper-case name -> driver line type
    bool codepage_1252 = true;            // before R2007 text is in the drawing's code page

    // Blocks.
    struct block_def {
        drawing_point base{0, 0}; // the base point: where the insert point goes
        std::vector<entity> entities;
    };
    std::map<std::string, block_def> blocks;
    block_def* defining = nullptr; // the block being defined
    bool skip_block = false;       // paper space blocks are not kept

    // Entities being built from several callbacks.
    std::unique_ptr<entity> pending;
    std::string mtext_chunks;
    long long drawn = 0;
    std::vector<const std::string*> insert_stack;
    std::map<std::string, long> skipped;
    long paper_space = 0;
    long rough_splines = 0; // splines drawn as their control polygon

    [[noreturn]] void fail(long line, const std::string& what) const {
        throw drawing_failure(name + ":" + std::to_string(line) + ": " + what);
    }

    // --- group codes ------------------------------------------------------------
    void processCodeValuePair(unsigned int code, const std::string& value) override {
        ++pairs;
        long line = 2 * pairs - 1;
        if (code == 0) {
            if (cur_type == "LTYPE" && !cur_ltype_name.empty())
                linetypes[upper(cur_ltype_name)] = line_type_of(cur_dashes);
            prev_type = cur_type, prev_line = cur_line;
            prev_block_ref = cur_block_ref, prev_pattern = std::move(cur_pattern);
            cur_type = value, cur_line = line;
            cur_block_ref.clear(), cur_pattern.clear(), cur_pattern_on = false;
            cur_ltype_name.clear(), cur_dashes.clear();
            return;
        }
        auto number = [&] { return std::atof(value.c_str()); };
        // Counts dxflib sizes its arrays by: refused before it allocates.
        if (((cur_type == "LWPOLYLINE" && code == 90) ||
             (cur_type == "SPLINE" && (code == 72 || code == 73 || code == 74)) ||
             (cur_type == "HATCH" && (code == 91 || code == 93 || code == 95 || code == 96 ||
                                      code == 97 || code == 78 || code == 79))) &&
            std::fabs(number()) > absurd_count)
            fail(cur_line, cur_type + " has an absurd count (" + value + ") at line " +
                               std::to_string(line + 1));
        if (cur_type == "DIMENSION" && code == 2) cur_block_ref = value;
        if (cur_type == "LTYPE") {
            if (code == 2) cur_ltype_name = value;
            if (code == 49) cur_dashes.push_back(number());
        }
        if (cur_type == "HATCH") {
            if (code == 78) cur_pattern_on = true;
            if (cur_pattern_on) {
                if (code == 53)
                    cur_pattern.push_back({number(), 0, 0, 0, 0});
                else if (!cur_pattern.empty() && code >= 43 && code <= 46)
                    cur_pattern.back()[code - 42] = number();
                else if (!cur_pattern.empty() && code == 49)
                    cur_pattern.back().push_back(number());
            }
        }
    }

    void setVariableInt(const std::string& key, int value, int) override {
        if (key == "$INSUNITS") {
            static const double mm[] = {
                0,       25.4,   304.8,          1609344,   1,        10,   1000, 1e6,
                2.54e-5, 0.0254, 914.4,          1e-7,      1e-6,     1e-3, 100,  10000,
                1e5,     1e12,   1.495978707e14, 9.4607e18, 3.0857e19};
            if (value > 0 && value < static_cast<int>(std::size(mm))) {
                report->unit_mm = mm[value];
                report->units = value == 1   ? drawing_units::inch
                                : value == 4 ? drawing_units::mm
                                             : drawing_units::unknown;
            }
        }
    }
    void setVariableString(const std::string& key, const std::string& value, int) override {
        // Before R2007 text is in the drawing's code page, read as Windows-1252.
        if (key == "$ACADVER") codepage_1252 = value < "AC1021";
    }

    // --- tables -----------------------------------------------------------------
    void addLayer(const DL_LayerData& d) override {
        layer_info l;
        int c = attributes.getColor();
        l.off = c < 0 || d.off;
        l.colour = std::clamp(std::abs(c), 1, 255);
        l.frozen = d.flags & 1;
        l.linetype = attributes.getLinetype().empty() ? "CONTINUOUS" : attributes.getLinetype();
        l.weight = attributes.getWidth();
        layers[d.name] = l;
    }

    // --- blocks -----------------------------------------------------------------
    void addBlock(const DL_BlockData& d) override {
        finish();
        std::string n = upper(d.name);
        skip_block = n.rfind("*PAPER_SPACE", 0) == 0;
        defining = &blocks[d.name];
        defining->entities.clear();
        defining->base = {d.bpx, d.bpy};
    }
    void endBlock() override {
        finish();
        defining = nullptr;
        skip_block = false;
    }
    void endSection() override { finish(); }
    void endEntity() override {
        if (pending && (prev_type == "LWPOLYLINE" || prev_type == "SPLINE" || prev_type == "HATCH"))
            finish();
    }
    void endSequence() override { finish(); }

    // --- entities ---------------------------------------------------------------
    entity make(kind k) {
        finish();
        entity e;
        e.k = k;
        e.a = {attributes.getLayer(), attributes.getColor(), attributes.getLinetype(),
               attributes.getWidth()};
        if (e.a.linetype.empty()) e.a.linetype = "BYLAYER";
        e.line = prev_line;
        return e;
    }
    // Whether this entity is drawn at all (model space, kept block).
    bool wanted() {
        if (!defining && attributes.isInPaperSpace()) {
            ++paper_space;
            return false;
        }
        return !(defining && skip_block);
    }
    // OCS mirror: an extrusion towards -Z mirrors x (what mirrored arcs are written as).
    bool mirrored() {
        const DL_Extrusion* ex = getExtrusion();
        return ex && ex->getDirection()[2] < 0;
    }
    double ocs_x(double x) { return mirrored() ? -x : x; }

    void take(entity&& e) {
        if (defining) {
            e.pts.shrink_to_fit();
            defining->entities.push_back(std::move(e));
        } else {
            static const std::string top;
            context c{&top, 7, 0, -1};
            draw(e, affine{}, c);
        }
    }
    void addPoint(const DL_PointData& d) override {
        if (!wanted()) return;
        entity e = make(kind::point);
        e.v = {d.x, d.y};
        take(std::move(e));
    }
    void addLine(const DL_LineData& d) override {
        if (!wanted()) return;
        entity e = make(kind::line);
        e.v = {d.x1, d.y1, d.x2, d.y2};
        take(std::move(e));
    }
    void addArc(const DL_ArcData& d) override {
        if (!wanted()) return;
        entity e = make(kind::arc);
        double a0 = d.angle1, a1 = d.angle2;
        if (mirrored()) std::swap(a0, a1), a0 = 180 - a0, a1 = 180 - a1;
        e.v = {ocs_x(d.cx), d.cy, d.radius, a0, a1};
        take(std::move(e));
    }
    void addCircle(const DL_CircleData& d) override {
        if (!wanted()) return;
        entity e = make(kind::circle);
        e.v = {ocs_x(d.cx), d.cy, d.radius};
        take(std::move(e));
    }
    void addEllipse(const DL_EllipseData& d) override {
        if (!wanted()) return;
        entity e = make(kind::ellipse);
        e.v = {d.cx, d.cy, d.mx, d.my, d.ratio, d.angle1, d.angle2};
        take(std::move(e));
    }
    void addPolyline(const DL_PolylineData& d) override {
        if (!wanted()) {
            finish();
            return;
        }
        entity e = make(kind::polyline);
        e.closed = d.flags & 1;
        if (d.flags & (16 | 64)) { // polygon and polyface meshes
            ++skipped["POLYLINE mesh"];
            return;
        }
        pending = std::make_unique<entity>(std::move(e));
        pending_mirror = mirrored();
    }
    bool pending_mirror = false;
    void addVertex(const DL_VertexData& d) override {
        if (!pending || pending->k != kind::polyline) return;
        if (static_cast<long>(pending->pts.size()) >= absurd_count)
            fail(pending->line, "POLYLINE has more than 10000000 vertices");
        pending->pts.push_back({pending_mirror ? -d.x : d.x, d.y});
        pending->extra.push_back(pending_mirror ? -d.bulge : d.bulge);
    }
    void addSpline(const DL_SplineData& d) override {
        if (!wanted()) {
            finish();
            return;
        }
        entity e = make(kind::spline);
        e.degree = static_cast<int>(d.degree);
        e.closed = d.flags & 1;
        pending = std::make_unique<entity>(std::move(e));
    }
    void addControlPoint(const DL_ControlPointData& d) override {
        if (!pending || pending->k != kind::spline) return;
        pending->pts.push_back({d.x, d.y});
        pending->weights.push_back(d.w);
    }
    void addFitPoint(const DL_FitPointData& d) override {
        if (!pending || pending->k != kind::spline) return;
        pending->rings.resize(1);
        pending->rings[0].push_back({d.x, d.y});
    }
    void addKnot(const DL_KnotData& d) override {
        if (pending && pending->k == kind::spline) pending->extra.push_back(d.k);
    }
    void addTrace(const DL_TraceData& d) override { solid(d); }
    void addSolid(const DL_SolidData& d) override { solid(d); }
    void solid(const DL_TraceData& d) {
        if (!wanted()) return;
        entity e = make(kind::solid);
        // The corners are written 1, 2, 4, 3 around the outline.
        bool m = mirrored();
        for (int i : {0, 1, 3, 2}) e.v.push_back(m ? -d.x[i] : d.x[i]), e.v.push_back(d.y[i]);
        take(std::move(e));
    }
    void add3dFace(const DL_3dFaceData&) override { finish(), ++skipped["3DFACE"]; }
    void addXLine(const DL_XLineData&) override { finish(), ++skipped["XLINE"]; }
    void addRay(const DL_RayData&) override { finish(), ++skipped["RAY"]; }
    void addImage(const DL_ImageData&) override { finish(), ++skipped["IMAGE"]; }
    void addLeader(const DL_LeaderData&) override {
        if (!wanted()) return;
        entity e = make(kind::polyline);
        pending = std::make_unique<entity>(std::move(e));
        pending_mirror = false;
    }
    void addLeaderVertex(const DL_LeaderVertexData& d) override {
        if (!pending || pending->k != kind::polyline) return;
        pending->pts.push_back({d.x, d.y});
        pending->extra.push_back(0);
    }

    void addHatch(const DL_HatchData& d) override {
        if (!wanted()) {
            finish();
            return;
        }
        entity e = make(kind::hatch);
        e.solid = d.solid;
        e.s = d.pattern;
        pending = std::make_unique<entity>(std::move(e));
        pending->pattern = prev_pattern;
    }
    void addHatchLoop(const DL_HatchLoopData&) override {
        if (pending && pending->k == kind::hatch) pending->rings.emplace_back();
    }
    void addHatchEdge(const DL_HatchEdgeData& d) override {
        if (!pending || pending->k != kind::hatch) return;
        if (pending->rings.empty()) pending->rings.emplace_back();
        auto& ring = pending->rings.back();
        double tol = sink->tolerance();
        if (!(tol > 0)) tol = 0;
        if (!d.vertices.empty()) { // a polyline boundary: x, y[, bulge]
            double bulge = 0;      // of the previous vertex: the arc to the next one
            bool have = false;
            for (const auto& v : d.vertices) {
                if (v.size() < 2) continue;
                drawing_point p{v[0], v[1]};
                if (!have && ring.empty())
                    ring.push_back(p);
                else
                    flatten_bulge(ring.back(), p, have ? bulge : 0, tol, ring);
                bulge = v.size() > 2 ? v[2] : 0;
                have = true;
            }
            if (have && bulge != 0) flatten_bulge(ring.back(), ring.front(), bulge, tol, ring);
            return;
        }
        switch (d.type) {
        case 1:
            if (ring.empty()) ring.push_back({d.x1, d.y1});
            ring.push_back({d.x2, d.y2});
            break;
        case 2: { // radians; a clockwise edge's angles are written mirrored
            double sweep = sweep_of(d.angle2 - d.angle1, 2 * pi);
            if (!std::isfinite(sweep) || !std::isfinite(d.angle1)) break;
            if (d.ccw)
                flatten_arc({d.cx, d.cy}, d.radius, d.angle1, sweep, tol, ring);
            else
                flatten_arc({d.cx, d.cy}, d.radius, -d.angle1, -sweep, tol, ring);
            break;
        }
        case 3: {
            double t0 = d.angle1, t1 = t0 + sweep_of(d.angle2 - d.angle1, 2 * pi);
            if (!std::isfinite(t1)) break;
            std::vector<drawing_point> pts;
            flatten_ellipse({d.cx, d.cy}, {d.mx, d.my}, d.ratio, d.ccw ? t0 : -t1, d.ccw ? t1 : -t0,
                            tol, pts);
            if (!d.ccw) std::reverse(pts.begin(), pts.end());
            ring.insert(ring.end(), pts.begin(), pts.end());
            break;
        }
        case 4: {
            std::vector<drawing_point> cps;
            for (const auto& c : d.controlPoints)
                if (c.size() >= 2) cps.push_back({c[0], c[1]});
            if (!flatten_spline(static_cast<int>(d.degree), cps, d.knots,
                                d.rational ? d.weights : std::vector<double>{}, tol, ring))
                ring.insert(ring.end(), cps.begin(), cps.end());
            break;
        }
        default:
            break;
        }
    }

    void addText(const DL_TextData& d) override { text(d, false); }
    void addAttribute(const DL_AttributeData& d) override { text(d, true); }
    void text(const DL_TextData& d, bool attribute) {
        if (!wanted()) return;
        if (attribute && (d.textGenerationFlags & 1)) return; // invisible attribute
        entity e = make(kind::text);
        text_run& r = e.run;
        r.utf8 = decode(d.text, false);
        r.height = d.height;
        r.angle_deg = d.angle * 180 / pi;
        r.width_factor = d.xScaleFactor > 0 ? d.xScaleFactor : 1;
        r.line_spacing = 1.6;
        int h = d.hJustification, v = d.vJustification;
        bool aligned = h == 0 && v == 0;
        r.at = aligned ? drawing_point{d.ipx, d.ipy} : drawing_point{d.apx, d.apy};
        r.halign = h == 1 || h == 4 ? text_halign::center
                   : h == 2         ? text_halign::right
                                    : text_halign::left;
        r.valign = h == 4   ? text_valign::middle
                   : v == 1 ? text_valign::bottom
                   : v == 2 ? text_valign::middle
                   : v == 3 ? text_valign::top
                            : text_valign::baseline;
        if (h == 3 || h == 5) { // aligned or fit between the two points: stretched
            r.at = {d.ipx, d.ipy};
            r.halign = text_halign::left;
            r.angle_deg = std::atan2(d.apy - d.ipy, d.apx - d.ipx) * 180 / pi;
            e.s = "fit";
            e.v = {std::hypot(d.apx - d.ipx, d.apy - d.ipy)};
        }
        if (mirrored()) r.at.x = -r.at.x;
        take(std::move(e));
    }
    void addMTextChunk(const std::string& chunk) override { mtext_chunks += chunk; }
    void addMText(const DL_MTextData& d) override {
        if (!wanted()) {
            mtext_chunks.clear();
            return;
        }
        entity e = make(kind::mtext);
        text_run& r = e.run;
        r.utf8 = decode(mtext_chunks + d.text, true);
        mtext_chunks.clear();
        r.at = {d.ipx, d.ipy};
        r.height = d.height;
        r.angle_deg = (d.dirx != 0 || d.diry != 0) ? std::atan2(d.diry, d.dirx) * 180 / pi
                                                   : d.angle * 180 / pi;
        r.width_factor = 1;
        r.line_spacing = 5.0 / 3 * (d.lineSpacingFactor > 0 ? d.lineSpacingFactor : 1);
        int a = std::clamp(d.attachmentPoint, 1, 9) - 1;
        r.halign = a % 3 == 0   ? text_halign::left
                   : a % 3 == 1 ? text_halign::center
                                : text_halign::right;
        r.valign = a / 3 == 0   ? text_valign::top
                   : a / 3 == 1 ? text_valign::middle
                                : text_valign::bottom;
        take(std::move(e));
    }

    void addInsert(const DL_InsertData& d) override {
        if (!wanted()) return;
        entity e = make(kind::insert);
        long cells = static_cast<long>(std::max(1, d.cols)) * std::max(1, d.rows);
        if (d.cols > array_limit || d.rows > array_limit || cells > array_limit)
            fail(e.line, "INSERT of '" + d.name + "' asks for an absurd array of " +
                             std::to_string(d.cols) + " x " + std::to_string(d.rows));
        double sx = d.sx == 0 ? 1 : d.sx, sy = d.sy == 0 ? 1 : d.sy;
        // Mirrored (extrusion towards -Z): the block's x axis turns the other way round.
        const bool m = mirrored();
        e.v = {ocs_x(d.ipx),
               d.ipy,
               m ? -sx : sx,
               sy,
               m ? -d.angle : d.angle,
               static_cast<double>(std::max(1, d.cols)),
               static_cast<double>(std::max(1, d.rows)),
               d.colSp,
               d.rowSp};
        e.s = d.name;
        take(std::move(e));
    }
    void addDimension(const DL_DimensionData&) {
        if (!wanted()) return;
        entity e = make(kind::dimension);
        e.s = prev_block_ref;
        take(std::move(e));
    }
    void addDimAlign(const DL_DimensionData& d, const DL_DimAlignedData&) override {
        addDimension(d);
    }
    void addDimLinear(const DL_DimensionData& d, const DL_DimLinearData&) override {
        addDimension(d);
    }
    void addDimRadial(const DL_DimensionData& d, const DL_DimRadialData&) override {
        addDimension(d);
    }
    void addDimDiametric(const DL_DimensionData& d, const DL_DimDiametricData&) override {
        addDimension(d);
    }
    void addDimAngular(const DL_DimensionData& d, const DL_DimAngular2LData&) override {
        addDimension(d);
    }
    void addDimAngular3P(const DL_DimensionData& d, const DL_DimAngular3PData&) override {
        addDimension(d);
    }
    void addDimOrdinate(const DL_DimensionData& d, const DL_DimOrdinateData&) override {
        addDimension(d);
    }

    // Ends an entity built from several callbacks.
    void finish() {
        if (!pending) return;
        std::unique_ptr<entity> e = std::move(pending);
        take(std::move(*e));
    }

    // --- text decoding ------------------------------------------------------------
    std::string decode(const std::string& raw, bool mtext) const {
        std::string in = raw;
        if (codepage_1252) {
            bool high = false;
            for (unsigned char c : in) high = high || c >= 0x80;
            if (high) in = cp1252_to_utf8(in.c_str());
        }
        std::string out;
        auto put_cp = [&out](unsigned long cp) {
            if (cp < 0x80)
                out.push_back(static_cast<char>(cp));
            else if (cp < 0x800)
                out.push_back(static_cast<char>(0xC0 | (cp >> 6))),
                    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
            else if (cp < 0x10000)
                out.push_back(static_cast<char>(0xE0 | (cp >> 12))),
                    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F))),
                    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        };
        for (size_t i = 0; i < in.size(); ++i) {
            char c = in[i];
            if (c == '%' && i + 2 < in.size() && in[i + 1] == '%') {
                char k = static_cast<char>(std::tolower(static_cast<unsigned char>(in[i + 2])));
                if (k == 'd')
                    put_cp(0xB0);
                else if (k == 'p')
                    put_cp(0xB1);
                else if (k == 'c')
                    put_cp(0x2300);
                else if (k == '%')
                    out += '%';
                else if (std::isdigit(static_cast<unsigned char>(k))) {
                    size_t j = i + 2;
                    unsigned long v = 0;
                    while (j < in.size() && j < i + 5 &&
                           std::isdigit(static_cast<unsigned char>(in[j])))
                        v = v * 10 + (in[j++] - '0');
                    put_cp(v);
                    i = j - 1;
                    continue;
                }
                i += 2; // %%u, %%o: underline and overline toggles are not drawn
                continue;
            }
            if (c == '\\' && i + 1 < in.size()) {
                char k = in[i + 1];
                if ((k == 'U' || k == 'u') && i + 6 < in.size() + 0 && in[i + 2] == '+') {
                    unsigned long v = std::strtoul(in.substr(i + 3, 4).c_str(), nullptr, 16);
                    put_cp(v);
                    i += 6;
                    continue;
                }
                if (mtext) {
                    if (k == 'P') {
                        out += '\n';
                        ++i;
                        continue;
                    }
                    if (k == '~') {
                        put_cp(0xA0);
                        ++i;
                        continue;
                    }
                    if (k == '\\' || k == '{' || k == '}') {
                        out += k;
                        ++i;
                        continue;
                    }
                    if (std::strchr("LlOoKk", k)) {
                        ++i;
                        continue;
                    }
                    if (k == 'S') { // stacked a^b or a/b: written a/b
                        size_t end = in.find(';', i);
                        std::string st = in.substr(
                            i + 2, end == std::string::npos ? std::string::npos : end - i - 2);
                        for (char& ch : st)
                            if (ch == '^' || ch == '#') ch = '/';
                        out += st;
                        i = end == std::string::npos ? in.size() : end;
                        continue;
                    }
                    if (std::strchr("fFHhWwCcAaTtQqp", k)) { // formatting up to ';'
                        size_t end = in.find(';', i);
                        i = end == std::string::npos ? in.size() : end;
                        continue;
                    }
                }
            }
            if (mtext && (c == '{' || c == '}')) continue;
            out += c;
        }
        return out;
    }

    // --- drawing ----------------------------------------------------------------
    const layer_info* layer(const std::string& n) const {
        auto it = layers.find(n);
        return it == layers.end() ? nullptr : &it->second;
    }
    int line_type_named(const std::string& n) const {
        auto it = linetypes.find(upper(n));
        return it == linetypes.end() ? 0 : it->second;
    }

    // Resolves an entity's style in its context. False when its layer hides it.
    bool resolve(const entity& e, const context& c, drawing_style* s,
                 const std::string** lay) const {
        const std::string& ln = (e.a.layer == "0" && !c.layer->empty()) ? *c.layer : e.a.layer;
        *lay = &ln;
        const layer_info* l = layer(ln);
        if (l && (l->off || l->frozen)) return false;
        int colour = e.a.colour;
        if (colour == 256 || colour < 0)
            colour = l ? l->colour : 7;
        else if (colour == 0)
            colour = c.colour;
        else if (colour > 256)
            colour = 7;
        std::string lt = upper(e.a.linetype);
        int t;
        if (lt == "BYLAYER")
            t = l ? line_type_named(l->linetype) : 0;
        else if (lt == "BYBLOCK")
            t = c.line_type;
        else
            t = line_type_named(lt);
        int w = e.a.weight;
        double mm;
        if (w == -1) w = l ? l->weight : -3;
        if (w == -2)
            mm = c.weight_mm;
        else
            mm = w >= 0 ? w / 100.0 : -1;
        *s = {colour, mm, t};
        return true;
    }

    void emit_path(const drawing_style& s, const affine& m, std::vector<drawing_point>& pts,
                   bool closed) {
        for (auto& p : pts) p = apply(m, p);
        sink->path(s, pts.data(), pts.size(), closed);
    }

    void draw(const entity& e, const affine& m0, const context& c) {
        if (++drawn > expansion_limit)
            fail(e.line, "the drawing expands to more than 200000000 entities through its blocks");
        drawing_style s;
        const std::string* lay;
        if (e.k != kind::insert && e.k != kind::dimension && !resolve(e, c, &s, &lay)) return;
        const affine& m = m0;
        const double* v = e.v.data();
        const double scale = max_scale(m);
        const double tol = sink->tolerance() > 0 ? sink->tolerance() / (scale > 0 ? scale : 1) : 0;
        std::vector<drawing_point> pts;
        switch (e.k) {
        case kind::line:
            pts = {{v[0], v[1]}, {v[2], v[3]}};
            emit_path(s, m, pts, false);
            break;
        case kind::point:
            pts = {{v[0], v[1]}};
            emit_path(s, m, pts, false);
            break;
        case kind::circle:
            flatten_arc({v[0], v[1]}, v[2], 0, 2 * pi, tol, pts);
            emit_path(s, m, pts, false);
            break;
        case kind::arc: {
            double sweep = sweep_of(v[4] - v[3], 360);
            if (!std::isfinite(sweep) || !std::isfinite(v[3])) break;
            flatten_arc({v[0], v[1]}, v[2], v[3] * pi / 180, sweep * pi / 180, tol, pts);
            emit_path(s, m, pts, false);
            break;
        }
        case kind::ellipse: {
            double t0 = v[5], t1 = t0 + sweep_of(v[6] - v[5], 2 * pi);
            if (!std::isfinite(t1)) break;
            flatten_ellipse({v[0], v[1]}, {v[2], v[3]}, v[4], t0, t1, tol, pts);
            emit_path(s, m, pts, false);
            break;
        }
        case kind::polyline: {
            if (e.pts.empty()) break;
            pts.push_back(e.pts[0]);
            size_t n = e.pts.size();
            for (size_t i = 1; i < n; ++i)
                flatten_bulge(pts.back(), e.pts[i], e.extra[i - 1], tol, pts);
            if (e.closed && n > 1) flatten_bulge(pts.back(), e.pts[0], e.extra[n - 1], tol, pts);
            emit_path(s, m, pts, false);
            break;
        }
        case kind::spline: {
            std::vector<double> w = e.weights;
            if (std::all_of(w.begin(), w.end(), [](double x) { return x == 1; })) w.clear();
            if (!e.pts.empty()) {
                // Knots that do not fit the control points (periodic splines written
                // loosely): a clamped uniform vector; failing that, the control polygon.
                if (!flatten_spline(e.degree, e.pts, e.extra, w, tol, pts) &&
                    !flatten_spline(e.degree, e.pts, {}, w, tol, pts)) {
                    ++rough_splines;
                    pts = e.pts;
                }
            } else if (!e.rings.empty()) {
                pts = e.rings[0]; // fit points only: drawn through them
            }
            if (!pts.empty()) emit_path(s, m, pts, false);
            break;
        }
        case kind::solid: {
            std::vector<drawing_point> ring;
            for (int i = 0; i < 4; ++i) {
                drawing_point p = apply(m, {v[2 * i], v[2 * i + 1]});
                if (ring.empty() || p.x != ring.back().x || p.y != ring.back().y) ring.push_back(p);
            }
            sink->fill(s, {ring});
            break;
        }
        case kind::hatch:
            draw_hatch(e, s, m);
            break;
        case kind::text:
        case kind::mtext: {
            text_run r = e.run;
            drawing_point at = apply(m, r.at);
            // The text's own frame through the transform: direction and height scale.
            double a = r.angle_deg * pi / 180;
            drawing_point ux = {m.a * std::cos(a) + m.b * std::sin(a),
                                m.d * std::cos(a) + m.e * std::sin(a)};
            drawing_point uy = {-m.a * std::sin(a) + m.b * std::cos(a),
                                -m.d * std::sin(a) + m.e * std::cos(a)};
            double lx = std::hypot(ux.x, ux.y), ly = std::hypot(uy.x, uy.y);
            r.at = at;
            r.angle_deg = std::atan2(ux.y, ux.x) * 180 / pi;
            r.height *= ly;
            r.width_factor *= ly > 0 ? lx / ly : 1;
            if (e.s == "fit" && !e.v.empty()) {
                std::string why;
                const stroke_font* f = stroke_font_default(&why);
                if (!f) throw drawing_failure(why);
                double natural = stroke_text_width(*f, r);
                if (natural > 0) r.width_factor *= e.v[0] * lx / natural;
            }
            sink->text(s, r);
            break;
        }
        case kind::insert:
            draw_insert(e, v, m, c);
            break;
        case kind::dimension: {
            if (e.s.empty()) {
                ++skipped["DIMENSION without a block"];
                break;
            }
            std::vector<double> at = {0, 0, 1, 1, 0, 1, 1, 0, 0};
            draw_insert(e, at.data(), m, c);
            break;
        }
        }
    }

    void draw_insert(const entity& e, const double* v, const affine& m, const context& c) {
        auto it = blocks.find(e.s);
        if (it == blocks.end()) {
            ++skipped["INSERT of an undefined block"];
            return;
        }
        for (const std::string* n : insert_stack)
            if (*n == e.s) fail(e.line, "block '" + e.s + "' inserts itself");
        if (insert_stack.size() >= nesting_limit)
            fail(e.line, "blocks nested more than 64 deep (at '" + e.s + "')");
        // The insert's own style is what BYBLOCK entities of the block take.
        drawing_style s;
        const std::string* lay;
        entity probe = e;
        probe.k = kind::line;
        if (!resolve(probe, c, &s, &lay)) {
            const layer_info* l = layer(*lay);
            if (l && l->frozen) return; // a frozen insert hides its whole block
        }
        context inner{lay, s.colour, s.line_type, s.weight_mm};
        int cols = static_cast<int>(v[5]), rows = static_cast<int>(v[6]);
        const auto& def = it->second;
        affine turn = compose(rotation_deg(v[4]),
                              compose(scaling(v[2], v[3]), translation(-def.base.x, -def.base.y)));
        insert_stack.push_back(&it->first);
        for (int r = 0; r < rows; ++r)
            for (int k = 0; k < cols; ++k) {
                // Array cells step along the insert's rotated axes, unscaled.
                drawing_point step = apply(rotation_deg(v[4]), {k * v[7], r * v[8]});
                affine place = compose(m, compose(translation(v[0] + step.x, v[1] + step.y), turn));
                for (const entity& child : def.entities) draw(child, place, inner);
            }
        insert_stack.pop_back();
    }

    void draw_hatch(const entity& e, const drawing_style& s, const affine& m) {
        std::vector<std::vector<drawing_point>> rings;
        for (const auto& r : e.rings) {
            if (r.size() < 3) continue;
            auto& out = rings.emplace_back();
            for (auto p : r) out.push_back(apply(m, p));
        }
        if (rings.empty()) return;
        if (e.solid) {
            sink->fill(s, rings);
            return;
        }
        if (e.pattern.empty()) {
            ++skipped["HATCH pattern without its lines"];
            return;
        }
        // Pattern lines, in drawing units before the transform: for each family, lines
        // through base + k * offset along the angle, cut by the boundary (even-odd).
        std::vector<std::vector<drawing_point>> local;
        for (const auto& r : e.rings)
            if (r.size() >= 3) local.push_back(r);
        double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
        for (const auto& r : local)
            for (auto p : r)
                x0 = std::min(x0, p.x), y0 = std::min(y0, p.y), x1 = std::max(x1, p.x),
                y1 = std::max(y1, p.y);
        long lines_drawn = 0;
        for (const auto& pl : e.pattern) {
            double ang = pl[0] * pi / 180;
            drawing_point d{std::cos(ang), std::sin(ang)}, nrm{-d.y, d.x};
            drawing_point base{pl[1], pl[2]}, off{pl[3], pl[4]};
            double spacing = off.x * nrm.x + off.y * nrm.y; // distance between lines
            if (std::fabs(spacing) < 1e-12) continue;
            double shift = off.x * d.x + off.y * d.y; // dash phase step between lines
            // Range of k so the lines cover the extents.
            double lo = 1e300, hi = -1e300;
            for (drawing_point c : {drawing_point{x0, y0}, drawing_point{x1, y0},
                                    drawing_point{x0, y1}, drawing_point{x1, y1}}) {
                double t = ((c.x - base.x) * nrm.x + (c.y - base.y) * nrm.y) / spacing;
                lo = std::min(lo, t), hi = std::max(hi, t);
            }
            if (!std::isfinite(lo) || !std::isfinite(hi) || std::fabs(lo) > 1e15 ||
                std::fabs(hi) > 1e15)
                continue; // pattern values that are no usable numbers
            if (hi - lo > 1e6 || (lines_drawn += static_cast<long>(hi - lo)) > absurd_count)
                fail(e.line, "HATCH pattern '" + e.s + "' would need more than a million lines");
            std::vector<double> dashes(pl.begin() + 5, pl.end());
            double period = 0;
            for (double x : dashes) period += std::fabs(x);
            for (long k = static_cast<long>(std::floor(lo)); k <= static_cast<long>(std::ceil(hi));
                 ++k) {
                drawing_point o{base.x + k * off.x, base.y + k * off.y};
                std::vector<double> ts; // crossings along the line, parameter t: o + t d
                for (const auto& r : local)
                    for (size_t i = 0; i < r.size(); ++i) {
                        drawing_point a = r[i], b = r[(i + 1) % r.size()];
                        double sa = (a.x - o.x) * nrm.x + (a.y - o.y) * nrm.y;
                        double sb = (b.x - o.x) * nrm.x + (b.y - o.y) * nrm.y;
                        if ((sa > 0) == (sb > 0)) continue;
                        double f = sa / (sa - sb);
                        drawing_point p{a.x + f * (b.x - a.x), a.y + f * (b.y - a.y)};
                        ts.push_back((p.x - o.x) * d.x + (p.y - o.y) * d.y);
                    }
                std::sort(ts.begin(), ts.end());
                for (size_t i = 0; i + 1 < ts.size(); i += 2)
                    dash_span(s, m, o, d, ts[i], ts[i + 1], dashes, period, k * shift);
            }
        }
    }

    // Draws the part t0..t1 of the line o + t d with the dash list (continuous if none).
    void dash_span(const drawing_style& s, const affine& m, drawing_point o, drawing_point d,
                   double t0, double t1, const std::vector<double>& dashes, double period,
                   double phase) {
        auto seg = [&](double a, double b) {
            std::vector<drawing_point> pts = {{o.x + a * d.x, o.y + a * d.y},
                                              {o.x + b * d.x, o.y + b * d.y}};
            emit_path(s, m, pts, false);
        };
        if (dashes.empty() || period <= 0 || (t1 - t0) / period > 100000) {
            seg(t0, t1);
            return;
        }
        double start = std::floor((t0 - phase) / period) * period + phase;
        for (double t = start; t < t1;) {
            for (double x : dashes) {
                double len = std::fabs(x);
                if (x >= 0) {
                    double a = std::max(t, t0), b = std::min(t + len, t1);
                    if (b >= a && a <= t1) seg(a, b);
                }
                t += len;
                if (t >= t1) break;
            }
        }
    }
};

} // namespace

int dxf_check_file(const std::string& path, std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = path + ": " + std::strerror(errno);
        return 2;
    }
    std::vector<char> block(1 << 20);
    std::string carry;
    long line = 0;
    bool expect_code = true, first = true, last_was_zero = false, eof_seen = false, ok = true;
    bool last_was_comment = false;
    std::string what;
    auto check = [&](std::string_view l) {
        ++line;
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        if (eof_seen) return; // anything after EOF is ignored
        if (expect_code) {
            size_t a = 0;
            while (a < l.size() && l[a] == ' ') ++a;
            size_t b = l.size();
            while (b > a && (l[b - 1] == ' ' || l[b - 1] == '\t')) --b;
            std::string_view code = l.substr(a, b - a);
            if (line == 1 && l.substr(0, 18) == "AutoCAD Binary DXF") {
                ok = false, what = "binary DXF is not read: save the drawing as ASCII DXF";
                return;
            }
            bool digits = !code.empty() && code.size() <= 5 &&
                          std::all_of(code.begin(), code.end(),
                                      [](char c) { return (c >= '0' && c <= '9') || c == '-'; });
            if (!digits) {
                if (code.empty() && first) return; // leading blank lines
                ok = false;
                what = first
                           ? "not a DXF file (a DXF file starts with the group code 0 and SECTION)"
                           : "a group code was expected, not '" + std::string(code.substr(0, 40)) +
                                 "'";
                return;
            }
            last_was_zero = code == "0";
            last_was_comment = code == "999";
        } else {
            std::string_view value = l;
            while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
                value.remove_suffix(1);
            if (first && !last_was_comment) {
                if (!(last_was_zero && value == "SECTION")) {
                    ok = false;
                    what = "not a DXF file (a DXF file starts with the group code 0 and SECTION)";
                    return;
                }
                first = false;
            }
            if (last_was_zero && value == "EOF") eof_seen = true;
        }
        expect_code = !expect_code;
    };
    size_t got;
    while (ok && (got = std::fread(block.data(), 1, block.size(), f)) > 0) {
        size_t start = 0;
        for (size_t i = 0; i < got && ok; ++i) {
            if (block[i] != '\n') continue;
            if (carry.empty()) {
                check(std::string_view(block.data() + start, i - start));
            } else {
                carry.append(block.data() + start, i - start);
                check(carry);
                carry.clear();
            }
            start = i + 1;
            if (eof_seen) break;
        }
        if (eof_seen) break;
        carry.append(block.data() + start, got - start);
        if (carry.size() > 1 << 20) ok = false, what = "a line longer than a megabyte";
    }
    bool read_error = std::ferror(f);
    std::fclose(f);
    if (ok && !eof_seen && !carry.empty()) check(carry);
    if (read_error) {
        *error = path + ": read error";
        return 2;
    }
    if (!ok) {
        *error = path + ":" + std::to_string(line) + ": " + what;
        return 2;
    }
    if (!eof_seen) {
        *error = path + ":" + std::to_string(line) + ": the file ends without EOF: it is truncated";
        return 2;
    }
    return 0;
}

void dxf_read_file(const std::string& path, drawing_sink& sink, drawing_report& report) {
    reader r;
    r.name = path;
    r.sink = &sink;
    r.report = &report;
    DL_Dxf dxf;
    if (!dxf.in(path, &r)) throw drawing_failure(path + ": cannot read the file");
    r.finish();
    std::string list;
    long total = 0;
    for (const auto& [what, n] : r.skipped) {
        list += (list.empty() ? "" : ", ") + what + (n > 1 ? " x" + std::to_string(n) : "");
        total += n;
    }
    if (total)
        report.notes.push_back(std::to_string(total) + " entit" + (total == 1 ? "y" : "ies") +
                               " not plotted: " + list);
    if (r.rough_splines)
        report.notes.push_back(std::to_string(r.rough_splines) +
                               " SPLINE(s) with unusable knots drawn as their control polygon");
    if (r.paper_space)
        report.notes.push_back(std::to_string(r.paper_space) + " paper space entit" +
                               (r.paper_space == 1 ? "y" : "ies") +
                               " not plotted (model space is plotted)");
}

int dxf_input(const std::string& path, drawing_input* in, std::string* error) {
    if (dxf_check_file(path, error) != 0) return 2;
    in->path = path;
    in->format = drawing_format::dxf;
    in->read = [path](drawing_sink& s, drawing_report& r) { dxf_read_file(path, s, r); };
    in->anchor = drawing_anchor::extents;
    return 0;
}
