// The _quillet extension module: argument conversion, array exchange and error mapping only;
// the core does the work. Every entry point keeps the interpreter lock for the whole call.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/bank/compiled_template.hpp"
#include "core/image/io.hpp"
#include "core/search/matcher.hpp"
#include "core/search/records.hpp"
#include "core/template/rotate.hpp"
#include "core/template/template.hpp"

namespace py = pybind11;

namespace {

using quillet::CompileConfig;
using quillet::ImageView;
using quillet::MatchConfig;
using quillet::Result;
using quillet::Status;

// ---- Error mapping ----------------------------------------------------------------------
// pybind11 turns std::runtime_error into RuntimeError and std::bad_alloc into MemoryError.

template <class T>
T value_or_raise(Result<T> result) {
    if (!result) throw std::runtime_error(result.error().message());
    return std::move(*result);
}

void check_or_raise(const Status& status) {
    if (!status) throw std::runtime_error(status.error().message());
}

[[noreturn]] void raise_python(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

// Re-raises the pending conversion error with its message prefixed by the parameter name, so
// the caller knows which argument failed. Its type is kept when it is one of the plain
// conversion types, else narrowed to the plain base (a UnicodeEncodeError becomes ValueError,
// whose constructor takes a bare message); any other error (MemoryError) passes unchanged.
[[noreturn]] void raise_pending_for(const char* name) {
    py::error_already_set pending;
    for (PyObject* type : {PyExc_OverflowError, PyExc_TypeError, PyExc_ValueError}) {
        if (pending.matches(type)) {
            raise_python(type, std::string("argument '") + name + "': " + py::str(pending.value()).cast<std::string>());
        }
    }
    throw pending;
}

std::string type_name(const py::handle& obj) { return Py_TYPE(obj.ptr())->tp_name; }

[[noreturn]] void raise_wrong_type(const char* name, const char* expected, const std::string& got) {
    raise_python(PyExc_TypeError, std::string("argument '") + name + "' must be " + expected + ", not " + got);
}

// ---- Argument conversion -----------------------------------------------------------------
// Parameters arrive as plain objects and are converted in parameter order, so the first
// failing parameter is the one reported, by name.

// A two-dimensional uint8 NumPy array (or subclass); the returned reference keeps it alive
// for the call.
py::array image_argument(const py::object& obj, const char* name) {
    const auto& api = py::detail::npy_api::get();
    if (!api.PyArray_Check_(obj.ptr())) raise_wrong_type(name, "a 2-D uint8 numpy array", type_name(obj));
    auto array = py::reinterpret_borrow<py::array>(obj);
    const bool is_u8 = api.PyArray_EquivTypes_(array.dtype().ptr(), py::dtype::of<std::uint8_t>().ptr());
    if (array.ndim() != 2 || !is_u8) {
        const std::string got = "a " + std::to_string(array.ndim()) + "-D " + py::str(array.dtype()).cast<std::string>() + " array";
        raise_wrong_type(name, "a 2-D uint8 numpy array", got);
    }
    return array;
}

py::str text_argument(const py::object& obj, const char* name) {
    if (!PyUnicode_Check(obj.ptr())) raise_wrong_type(name, "str", type_name(obj));
    return py::reinterpret_borrow<py::str>(obj);
}

bool bool_argument(const py::object& obj, const char* name) {
    if (!PyBool_Check(obj.ptr())) raise_wrong_type(name, "bool", type_name(obj));
    return obj.ptr() == Py_True;
}

// Any real number, rounded to the nearest 32-bit float (too large becomes infinity).
float f32_argument(const py::object& obj, const char* name) {
    const double value = PyFloat_AsDouble(obj.ptr());
    if (value == -1.0 && PyErr_Occurred()) raise_pending_for(name);
    return static_cast<float>(value);
}

std::size_t size_argument(const py::object& obj, const char* name) {
    auto index = py::reinterpret_steal<py::object>(PyNumber_Index(obj.ptr()));
    if (!index) raise_pending_for(name);
    const std::size_t value = PyLong_AsSize_t(index.ptr());
    if (value == static_cast<std::size_t>(-1) && PyErr_Occurred()) raise_pending_for(name);
    return value;
}

std::uint8_t u8_argument(const py::object& obj, const char* name) {
    auto index = py::reinterpret_steal<py::object>(PyNumber_Index(obj.ptr()));
    if (!index) raise_pending_for(name);
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (value == -1 && PyErr_Occurred()) raise_pending_for(name);
    if (overflow != 0 || value < 0 || value > 255) {
        raise_python(PyExc_OverflowError, std::string("argument '") + name + "': value must be in 0..255");
    }
    return static_cast<std::uint8_t>(value);
}

// An instance of the bound class T, or None for its default.
template <class T>
std::optional<T> config_argument(const py::object& obj, const char* name, const char* class_name) {
    if (obj.is_none()) return std::nullopt;
    if (!py::isinstance<T>(obj)) raise_wrong_type(name, (std::string(class_name) + " or None").c_str(), type_name(obj));
    return obj.cast<T>();
}

// Word parsing: the whole text lower-cased by Python's own str.lower(), nothing trimmed.
bool word_is(const py::str& lowered, const char* word) { return lowered.equal(py::str(word)); }

quillet::Metric parse_metric(const py::str& text) {
    const py::str lowered = text.attr("lower")();
    if (word_is(lowered, "zncc")) return quillet::Metric::Zncc;
    if (word_is(lowered, "ssd")) return quillet::Metric::Ssd;
    throw py::value_error("metric must be 'zncc' or 'ssd'");
}

quillet::RotationMode parse_rotation(const py::str& text) {
    const py::str lowered = text.attr("lower")();
    if (word_is(lowered, "enabled")) return quillet::RotationMode::Enabled;
    if (word_is(lowered, "disabled")) return quillet::RotationMode::Disabled;
    throw py::value_error("rotation must be 'enabled' or 'disabled'");
}

// ---- Array exchange ----------------------------------------------------------------------

// The pixels of an image array in row order. A C-ordered array is read in place; any other
// contiguous layout (Fortran order) is copied into row order first, so pixels never move.
class RowOrderPixels {
public:
    explicit RowOrderPixels(const py::array& array)
        : width_(static_cast<std::size_t>(array.shape(1))), height_(static_cast<std::size_t>(array.shape(0))) {
        if (array.size() == 0) return;
        const int flags = array.flags();
        const bool aligned = (flags & py::detail::npy_api::NPY_ARRAY_ALIGNED_) != 0;
        const bool c_order = (flags & py::array::c_style) != 0;
        const bool f_order = (flags & py::array::f_style) != 0;
        const auto* data = static_cast<const std::uint8_t*>(array.data());
        if (!aligned || !(c_order || f_order) || data == nullptr) {
            throw py::type_error("The given array is not contiguous or is misaligned.");
        }
        if (c_order) {
            bytes_ = {data, width_ * height_};
            return;
        }
        copy_.resize(width_ * height_);
        const auto row_step = array.strides(0), column_step = array.strides(1);
        for (std::size_t y = 0; y < height_; ++y) {
            for (std::size_t x = 0; x < width_; ++x) {
                copy_[y * width_ + x] = data[static_cast<py::ssize_t>(y) * row_step + static_cast<py::ssize_t>(x) * column_step];
            }
        }
        bytes_ = copy_;
    }

    std::size_t width() const { return width_; }
    std::size_t height() const { return height_; }
    std::vector<std::uint8_t> to_vector() const { return {bytes_.begin(), bytes_.end()}; }

    // A view with stride = width; an empty array fails here with its zero dimension.
    ImageView view() const { return value_or_raise(ImageView::create(bytes_, width_, height_, width_)); }

private:
    std::size_t width_;
    std::size_t height_;
    std::vector<std::uint8_t> copy_;
    std::span<const std::uint8_t> bytes_;
};

// A new writeable C-ordered (height, width) uint8 array that owns `pixels`.
py::array owned_array(std::vector<std::uint8_t> pixels, std::size_t width, std::size_t height, const char* failure) {
    if (pixels.size() != width * height) throw py::value_error(failure);
    auto holder = std::make_unique<std::vector<std::uint8_t>>(std::move(pixels));
    const std::uint8_t* data = holder->data();
    py::capsule base(holder.get(), [](void* p) { delete static_cast<std::vector<std::uint8_t>*>(p); });
    holder.release();
    return py::array_t<std::uint8_t>({height, width}, data, base);
}

quillet::Template template_from_pixels(const RowOrderPixels& pixels) {
    return value_or_raise(quillet::Template::create(pixels.to_vector(), pixels.width(), pixels.height()));
}

// ---- Renderings --------------------------------------------------------------------------

std::string bool_text(bool value) { return value ? "true" : "false"; }

// Shortest text that reads back as the same float, never in exponent notation.
std::string float_text(float value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return std::string(buffer, result.ptr);
}

std::string metric_word(quillet::Metric metric) { return metric == quillet::Metric::Zncc ? "zncc" : "ssd"; }

std::string rotation_word(quillet::RotationMode mode) {
    return mode == quillet::RotationMode::Enabled ? "enabled" : "disabled";
}

std::string match_repr(const quillet::Match& m) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "Match(x=%.2f, y=%.2f, angle_deg=%.2f, score=%.4f)", static_cast<double>(m.x),
                  static_cast<double>(m.y), static_cast<double>(m.angle_deg), static_cast<double>(m.score));
    return buffer;
}

// ---- Python classes ----------------------------------------------------------------------

// A compiled template shared with every matcher made from it.
struct CompiledTemplateHandle {
    std::shared_ptr<const quillet::CompiledTemplate> compiled;
    std::size_t num_levels;
};

CompiledTemplateHandle share(quillet::CompiledTemplate compiled) {
    const std::size_t levels = compiled.num_levels();
    return {std::make_shared<const quillet::CompiledTemplate>(std::move(compiled)), levels};
}

CompileConfig make_compile_config(const py::object& max_levels, const py::object& coarse_step_deg,
                                  const py::object& min_step_deg, const py::object& fill_value,
                                  const py::object& precompute_coarsest) {
    CompileConfig config;
    config.max_levels = size_argument(max_levels, "max_levels");
    config.coarse_step_deg = f32_argument(coarse_step_deg, "coarse_step_deg");
    config.min_step_deg = f32_argument(min_step_deg, "min_step_deg");
    config.fill_value = u8_argument(fill_value, "fill_value");
    config.precompute_coarsest = bool_argument(precompute_coarsest, "precompute_coarsest");
    check_or_raise(config.validate());
    return config;
}

MatchConfig make_match_config(const py::object& metric, const py::object& rotation, const py::object& parallel,
                              const py::object& max_image_levels, const py::object& beam_width,
                              const py::object& per_angle_topk, const py::object& nms_radius,
                              const py::object& roi_radius, const py::object& angle_half_range_steps,
                              const py::object& min_var_i, const py::object& min_score) {
    const py::str metric_text = text_argument(metric, "metric");
    const py::str rotation_text = text_argument(rotation, "rotation");
    MatchConfig config;
    config.parallel = bool_argument(parallel, "parallel");
    config.max_image_levels = size_argument(max_image_levels, "max_image_levels");
    config.beam_width = size_argument(beam_width, "beam_width");
    config.per_angle_topk = size_argument(per_angle_topk, "per_angle_topk");
    config.nms_radius = size_argument(nms_radius, "nms_radius");
    config.roi_radius = size_argument(roi_radius, "roi_radius");
    config.angle_half_range_steps = size_argument(angle_half_range_steps, "angle_half_range_steps");
    config.min_var_i = f32_argument(min_var_i, "min_var_i");
    config.min_score = f32_argument(min_score, "min_score");
    config.metric = parse_metric(metric_text);
    config.rotation = parse_rotation(rotation_text);
    check_or_raise(config.validate());
    return config;
}

std::string compile_config_repr(const CompileConfig& c) {
    return "CompileConfig(max_levels=" + std::to_string(c.max_levels) + ", coarse_step_deg=" + float_text(c.coarse_step_deg) +
           ", min_step_deg=" + float_text(c.min_step_deg) + ", fill_value=" + std::to_string(c.fill_value) +
           ", precompute_coarsest=" + bool_text(c.precompute_coarsest) + ")";
}

std::string match_config_repr(const MatchConfig& c) {
    return "MatchConfig(metric='" + metric_word(c.metric) + "', rotation='" + rotation_word(c.rotation) +
           "', parallel=" + bool_text(c.parallel) + ", beam_width=" + std::to_string(c.beam_width) + ")";
}

quillet::Match match_image(const quillet::Matcher& matcher, const py::object& image) {
    const py::array array = image_argument(image, "image");
    const RowOrderPixels pixels(array);
    return value_or_raise(matcher.match_image(pixels.view()));
}

std::vector<quillet::Match> match_topk(const quillet::Matcher& matcher, const py::object& image, const py::object& k) {
    const py::array array = image_argument(image, "image");
    const std::size_t count = size_argument(k, "k");
    const RowOrderPixels pixels(array);
    return value_or_raise(matcher.match_image_topk(pixels.view(), count));
}

quillet::Matcher make_matcher(const CompiledTemplateHandle& self, const py::object& config) {
    const auto given = config_argument<MatchConfig>(config, "config", "MatchConfig");
    if (given) check_or_raise(given->validate());
    return quillet::Matcher(self.compiled, given.value_or(MatchConfig{}));
}

CompiledTemplateHandle compile_rotated(const quillet::Template& self, const py::object& config) {
    const CompileConfig settings = config_argument<CompileConfig>(config, "config", "CompileConfig").value_or(CompileConfig{});
    check_or_raise(settings.validate());
    return share(value_or_raise(quillet::CompiledTemplate::compile_rotated(self, settings)));
}

CompiledTemplateHandle compile_unrotated(const quillet::Template& self, const py::object& max_levels) {
    const std::size_t levels = size_argument(max_levels, "max_levels");
    return share(value_or_raise(quillet::CompiledTemplate::compile_unrotated(self, levels)));
}

// The file system's encoding of a str path, as os.fsencode gives it, so that any name the
// operating system handed to Python reaches the loader unchanged.
std::string path_argument(const py::object& obj, const char* name) {
    const py::str text = text_argument(obj, name);
    auto encoded = py::reinterpret_steal<py::bytes>(PyUnicode_EncodeFSDefault(text.ptr()));
    if (!encoded) raise_pending_for(name);
    return encoded;
}

quillet::Template template_from_file(const py::object& path) {
    const std::string file = path_argument(path, "path");
    const quillet::OwnedImage image = value_or_raise(quillet::load_gray_image(file));
    return value_or_raise(quillet::Template::create(image.data(), image.width(), image.height()));
}

quillet::Match match_template(const py::object& image, const py::object& templ, const py::object& rotation,
                              const py::object& metric, const py::object& parallel) {
    const py::array image_array = image_argument(image, "image");
    const py::array template_array = image_argument(templ, "template");
    const py::str rotation_text = text_argument(rotation, "rotation");
    const py::str metric_text = text_argument(metric, "metric");
    MatchConfig config;
    config.parallel = bool_argument(parallel, "parallel");

    const quillet::Template tpl = template_from_pixels(RowOrderPixels(template_array));
    config.rotation = parse_rotation(rotation_text);
    const CompileConfig defaults;
    auto compiled = value_or_raise(config.rotation == quillet::RotationMode::Enabled
                                       ? quillet::CompiledTemplate::compile_rotated(tpl, defaults)
                                       : quillet::CompiledTemplate::compile_unrotated(tpl, defaults.max_levels));
    config.metric = parse_metric(metric_text);
    const quillet::Matcher matcher(std::make_shared<const quillet::CompiledTemplate>(std::move(compiled)), config);

    const RowOrderPixels pixels(image_array);
    return value_or_raise(matcher.match_image(pixels.view()));
}

py::tuple rotate(const py::object& image, const py::object& angle_deg, const py::object& fill_value) {
    const py::array array = image_argument(image, "image");
    const float angle = f32_argument(angle_deg, "angle_deg");
    const std::uint8_t fill = u8_argument(fill_value, "fill_value");
    const RowOrderPixels pixels(array);
    quillet::RotatedImage rotated = quillet::rotate_u8_bilinear_masked(pixels.view(), fill, angle);
    const std::size_t width = rotated.image.width(), height = rotated.image.height();
    py::array image_out = owned_array(rotated.image.data(), width, height, "failed to construct rotated image array");
    py::array mask_out = owned_array(std::move(rotated.mask), width, height, "failed to construct rotation mask array");
    return py::make_tuple(std::move(image_out), std::move(mask_out));
}

// ---- Docstrings --------------------------------------------------------------------------
// Each begins with a text-signature line so that inspect.signature works. Methods name their
// first parameter "self", not "$self": pybind11 functions carry a capsule as __self__, and
// inspect would then drop "$self" and, on bound methods, the next parameter as well.

constexpr const char* kMatchDoc = "Match result containing position, angle, and score.";

constexpr const char* kCompileConfigParams =
    "max_levels=6, coarse_step_deg=10.0, min_step_deg=0.5, fill_value=0, precompute_coarsest=True";

constexpr const char* kMatchConfigParams =
    "metric=\"zncc\", rotation=\"disabled\", parallel=False, max_image_levels=6, beam_width=8, per_angle_topk=3, "
    "nms_radius=6, roi_radius=8, angle_half_range_steps=1, min_var_i=1e-8, min_score=...";

constexpr const char* kValidateDoc = "validate(self)\n--\n\nValidate the configuration.";


constexpr const char* kCompileNoRotationDoc =
    "compile_no_rotation(self, max_levels=6)\n--\n\n"
    "Compile the template without rotation support (faster).\n\n"
    "Args:\n"
    "    max_levels: Maximum pyramid levels (default: 6)";

constexpr const char* kCompileDoc =
    "compile(self, config=None)\n--\n\n"
    "Compile the template with rotation support.\n\n"
    "Args:\n"
    "    config: CompileConfig (default: CompileConfig())";

constexpr const char* kFromFileDoc =
    "from_file(path)\n--\n\n"
    "Load a template from an image file.\n\n"
    "Args:\n"
    "    path: Path to grayscale or RGB image file";

constexpr const char* kCompiledTemplateDoc =
    "A compiled template ready for matching.\n\n"
    "The compiled template assets are held through a shared reference-counted handle,\n"
    "so ``matcher()`` can be called multiple times with different configurations\n"
    "without recompiling.";

constexpr const char* kMatcherMethodDoc =
    "matcher(self, config=None)\n--\n\n"
    "Create a matcher from this compiled template.\n\n"
    "This method is idempotent: calling it multiple times with different configurations\n"
    "is cheap, because the compiled template assets are shared through the\n"
    "reference-counted handle and are never recomputed.\n\n"
    "Args:\n"
    "    config: MatchConfig (default: MatchConfig())\n\n"
    "Returns:\n"
    "    A ready-to-use Matcher.";

constexpr const char* kMatcherDoc = "Template matcher that performs coarse-to-fine search.";

constexpr const char* kMatchImageDoc =
    "match_image(self, image)\n--\n\n"
    "Match the template against an image, returning the best match.\n\n"
    "Args:\n"
    "    image: 2D uint8 numpy array (height x width)\n\n"
    "Returns:\n"
    "    Match object with x, y, angle_deg, and score";

constexpr const char* kMatchTopkDoc =
    "match_topk(self, image, k)\n--\n\n"
    "Match the template against an image, returning top-k matches.\n\n"
    "Args:\n"
    "    image: 2D uint8 numpy array (height x width)\n"
    "    k: Number of matches to return\n\n"
    "Returns:\n"
    "    List of Match objects, sorted by score (best first)";

constexpr const char* kMatchTemplateDoc =
    "match_template(image, template, rotation=\"disabled\", metric=\"zncc\", parallel=False)\n--\n\n"
    "Convenience function to match a template against an image.\n\n"
    "This is a simplified API that compiles the template and runs matching\n"
    "in a single call. For repeated matching with the same template,\n"
    "use Template.compile() and Matcher separately for better performance.\n\n"
    "Args:\n"
    "    image: 2D uint8 numpy array (height x width)\n"
    "    template: 2D uint8 numpy array (height x width)\n"
    "    rotation: \"enabled\" or \"disabled\" (default: \"disabled\")\n"
    "    metric: \"zncc\" or \"ssd\" (default: \"zncc\")\n"
    "    parallel: Enable parallel execution (default: False)\n\n"
    "Returns:\n"
    "    Match object with x, y, angle_deg, and score";

constexpr const char* kRotateDoc =
    "rotate_u8_bilinear_masked(image, angle_deg, fill_value=0)\n--\n\n"
    "Rotate a grayscale image using bilinear sampling and return a validity mask.\n\n"
    "The rotation is performed about the image center, with the same conventions as the\n"
    "library's core rotation. Positive angles rotate **clockwise** in image\n"
    "coordinates (x right, y down).\n\n"
    "Args:\n"
    "    image: 2D uint8 numpy array (height x width)\n"
    "    angle_deg: Rotation angle in degrees (clockwise)\n"
    "    fill_value: Fill value for out-of-bounds sampling (default: 0)\n\n"
    "Returns:\n"
    "    Tuple `(rotated, mask)` where `rotated` is a 2D uint8 array and `mask` is\n"
    "    a 2D uint8 array with values 0/1 indicating valid bilinear sampling\n"
    "    footprints.";

// ---- Registration ------------------------------------------------------------------------

// A constructible class documents its signature twice: in the class docstring, and on
// __init__, which is where inspect.signature looks first.
std::string class_doc(const char* name, const char* params, const char* text) {
    return std::string(name) + "(" + params + ")\n--\n\n" + text;
}

std::string init_doc(const char* params) { return std::string("__init__(self, ") + params + ")\n--\n\n"; }

// A read-only attribute returning a widened float.
template <class T>
auto float_field(float T::*field) {
    return [field](const T& self) { return static_cast<double>(self.*field); };
}

void register_match(py::module_& m) {
    py::class_<quillet::Match>(m, "Match", kMatchDoc)
        .def_property_readonly("x", float_field(&quillet::Match::x), "Top-left x coordinate of the template placement.")
        .def_property_readonly("y", float_field(&quillet::Match::y), "Top-left y coordinate of the template placement.")
        .def_property_readonly("angle_deg", float_field(&quillet::Match::angle_deg), "Rotation angle in degrees.")
        .def_property_readonly("score", float_field(&quillet::Match::score), "Match score (ZNCC in [-1, 1] or negative SSD).")
        .def("__repr__", &match_repr);
}

void register_compile_config(py::module_& m) {
    const std::string doc = class_doc("CompileConfig", kCompileConfigParams,
                                      "Configuration for compiling a template with rotation support.");
    py::class_<CompileConfig>(m, "CompileConfig", doc.c_str())
        .def(py::init(&make_compile_config), py::arg("max_levels") = 6, py::arg("coarse_step_deg") = 10.0,
             py::arg("min_step_deg") = 0.5, py::arg("fill_value") = 0, py::arg("precompute_coarsest") = true,
             init_doc(kCompileConfigParams).c_str())
        .def_readonly("max_levels", &CompileConfig::max_levels, "Maximum pyramid levels to build.")
        .def_property_readonly("coarse_step_deg", float_field(&CompileConfig::coarse_step_deg),
                               "Coarse rotation step in degrees at level 0.")
        .def_property_readonly("min_step_deg", float_field(&CompileConfig::min_step_deg),
                               "Minimum rotation step in degrees across levels.")
        .def_property_readonly("fill_value", [](const CompileConfig& c) { return static_cast<int>(c.fill_value); },
                               "Fill value used for out-of-bounds rotations.")
        .def_readonly("precompute_coarsest", &CompileConfig::precompute_coarsest,
                      "Precompute all rotations for the coarsest level.")
        .def("validate", [](const CompileConfig& c) { check_or_raise(c.validate()); }, kValidateDoc)
        .def("__repr__", &compile_config_repr);
}

void register_match_config(py::module_& m) {
    const std::string doc = class_doc("MatchConfig", kMatchConfigParams, "Configuration for the matching process.");
    py::class_<MatchConfig>(m, "MatchConfig", doc.c_str())
        .def(py::init(&make_match_config), py::arg("metric") = "zncc", py::arg("rotation") = "disabled",
             py::arg("parallel") = false, py::arg("max_image_levels") = 6, py::arg("beam_width") = 8,
             py::arg("per_angle_topk") = 3, py::arg("nms_radius") = 6, py::arg("roi_radius") = 8,
             py::arg("angle_half_range_steps") = 1, py::arg("min_var_i") = 1e-8,
             py::arg("min_score") = -std::numeric_limits<double>::infinity(), init_doc(kMatchConfigParams).c_str())
        .def_property_readonly("metric", [](const MatchConfig& c) { return metric_word(c.metric); },
                               "Matching metric (\"zncc\" or \"ssd\").")
        .def_property_readonly("rotation", [](const MatchConfig& c) { return rotation_word(c.rotation); },
                               "Rotation mode (\"enabled\" or \"disabled\").")
        .def_readonly("parallel", &MatchConfig::parallel, "Enable parallel execution.")
        .def_readonly("max_image_levels", &MatchConfig::max_image_levels, "Maximum image pyramid levels.")
        .def_readonly("beam_width", &MatchConfig::beam_width, "Candidates kept per level.")
        .def_readonly("per_angle_topk", &MatchConfig::per_angle_topk, "Top peaks per angle at the coarsest level.")
        .def_readonly("nms_radius", &MatchConfig::nms_radius, "Non-maximum suppression radius.")
        .def_readonly("roi_radius", &MatchConfig::roi_radius, "Refinement ROI radius.")
        .def_readonly("angle_half_range_steps", &MatchConfig::angle_half_range_steps, "Angle search half-range in steps.")
        .def_property_readonly("min_var_i", float_field(&MatchConfig::min_var_i), "Minimum image patch variance for ZNCC.")
        .def_property_readonly("min_score", float_field(&MatchConfig::min_score), "Minimum score threshold.")
        .def("validate", [](const MatchConfig& c) { check_or_raise(c.validate()); }, kValidateDoc)
        .def("__repr__", &match_config_repr);
}

void register_template(py::module_& m) {
    const std::string doc = class_doc("Template", "pixels", "A grayscale template for matching.");
    py::class_<quillet::Template>(m, "Template", doc.c_str())
        .def(py::init([](const py::object& pixels) {
                 const py::array array = image_argument(pixels, "pixels");
                 return template_from_pixels(RowOrderPixels(array));
             }),
             py::arg("pixels"), init_doc("pixels").c_str())
        .def_property_readonly("width", &quillet::Template::width, "Get template width.")
        .def_property_readonly("height", &quillet::Template::height, "Get template height.")
        .def("compile_no_rotation", &compile_unrotated, py::arg("max_levels") = 6, kCompileNoRotationDoc)
        .def("compile", &compile_rotated, py::arg("config") = py::none(), kCompileDoc)
        .def_static("from_file", &template_from_file, py::arg("path"), kFromFileDoc)
        .def("__repr__", [](const quillet::Template& t) {
            return "Template(" + std::to_string(t.width()) + "x" + std::to_string(t.height()) + ")";
        });
}

void register_compiled_template(py::module_& m) {
    py::class_<CompiledTemplateHandle>(m, "CompiledTemplate", kCompiledTemplateDoc)
        .def_readonly("num_levels", &CompiledTemplateHandle::num_levels, "Get the number of pyramid levels.")
        .def("matcher", &make_matcher, py::arg("config") = py::none(), kMatcherMethodDoc)
        .def("__repr__", [](const CompiledTemplateHandle& c) {
            return "CompiledTemplate(num_levels=" + std::to_string(c.num_levels) + ")";
        });
}

void register_matcher(py::module_& m) {
    py::class_<quillet::Matcher>(m, "Matcher", kMatcherDoc)
        .def("match_image", &match_image, py::arg("image"), kMatchImageDoc)
        .def("match_topk", &match_topk, py::arg("image"), py::arg("k"), kMatchTopkDoc)
        .def("__repr__", [](const quillet::Matcher&) { return "Matcher()"; });
}

void register_module(py::module_& m) {
    py::options options;
    options.disable_function_signatures();  // the docstrings carry their own signature lines
    register_match(m);
    register_compile_config(m);
    register_match_config(m);
    register_template(m);
    register_compiled_template(m);
    register_matcher(m);
    m.def("match_template", &match_template, py::arg("image"), py::arg("template"), py::arg("rotation") = "disabled",
          py::arg("metric") = "zncc", py::arg("parallel") = false, kMatchTemplateDoc);
    m.def("rotate_u8_bilinear_masked", &rotate, py::arg("image"), py::arg("angle_deg"), py::arg("fill_value") = 0,
          kRotateDoc);
    m.attr("__version__") = "0.2.5";
}

// The single execution step; any failure makes the import fail.
int exec_module(PyObject* module) {
    try {
        auto m = py::reinterpret_borrow<py::module_>(module);
        register_module(m);
        return 0;
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (const py::builtin_exception& e) {
        e.set_error();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_ImportError, e.what());
    }
    return -1;
}

PyModuleDef_Slot slots[] = {{Py_mod_exec, reinterpret_cast<void*>(exec_module)}, {0, nullptr}};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_quillet", "Python module for quillet template matching.", 0, nullptr, slots, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__quillet() { return PyModuleDef_Init(&module_def); }
