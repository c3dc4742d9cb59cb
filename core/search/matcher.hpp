// The matcher: a shared compiled template plus a configuration, running the coarse-to-fine
// search. Immutable; one matcher may serve several threads.
#pragma once

#include <memory>
#include <vector>

#include "core/bank/compiled_template.hpp"
#include "core/image/image.hpp"
#include "core/search/records.hpp"

namespace quillet {

class Matcher {
public:
    // Takes the compiled template into a new shared handle, with the default configuration.
    explicit Matcher(CompiledTemplate compiled);
    // Shares an existing handle; the compiled template is not copied.
    Matcher(std::shared_ptr<const CompiledTemplate> compiled, MatchConfig config);

    const MatchConfig& config() const { return config_; }
    const std::shared_ptr<const CompiledTemplate>& compiled() const { return compiled_; }

    // The best match.
    Result<Match> match_image(const ImageView& image) const;
    // Up to k matches, best score first.
    Result<std::vector<Match>> match_image_topk(const ImageView& image, std::size_t k) const;
    // The level-0 candidates of the coarse-to-fine search; `config` is not validated here.
    Result<std::vector<Candidate>> match_candidates_with_cfg(const ImageView& image, const MatchConfig& config) const;

private:
    std::shared_ptr<const CompiledTemplate> compiled_;
    MatchConfig config_;
};

}  // namespace quillet
