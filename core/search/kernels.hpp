// Picking the kernel of the configured metric and the plan it reads.
#pragma once

#include <vector>

#include "core/bank/compiled_template.hpp"
#include "core/kernel/scalar/masked_ssd.hpp"
#include "core/kernel/scalar/masked_zncc.hpp"
#include "core/kernel/simd.hpp"
#include "core/search/records.hpp"

namespace quillet {

// Calls f with a value of the metric's unmasked kernel type; both calls return the same type.
template <class F>
auto with_unmasked_kernel(Metric metric, F&& f) {
    return metric == Metric::Ssd ? f(SsdUnmaskedSimd{}) : f(ZnccUnmaskedSimd{});
}

// Calls f with a value of the metric's masked kernel type.
template <class F>
auto with_masked_kernel(Metric metric, F&& f) {
    return metric == Metric::Ssd ? f(SsdMaskedScalar{}) : f(ZnccMaskedScalar{});
}

inline const std::vector<TemplatePlan>& plans_for(ZnccUnmaskedSimd, const CompiledTemplate& c) { return c.plans(); }
inline const std::vector<SsdTemplatePlan>& plans_for(SsdUnmaskedSimd, const CompiledTemplate& c) { return c.ssd_plans(); }
inline const MaskedTemplatePlan& plan_for(ZnccMaskedScalar, const RotatedTemplate& r) { return r.zncc_plan; }
inline const MaskedSsdTemplatePlan& plan_for(SsdMaskedScalar, const RotatedTemplate& r) { return r.ssd_plan; }

// The unmasked plan of `level` for kernel K.
template <class K>
Result<const typename K::Plan*> level_plan(K kernel, const CompiledTemplate& compiled, std::size_t level) {
    const auto& plans = plans_for(kernel, compiled);
    if (level >= plans.size()) return fail(err::IndexOutOfBounds{level, plans.size(), "level"});
    return &plans[level];
}

}  // namespace quillet
