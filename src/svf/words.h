// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::svf {

// The words of a statement. Blanks and tabs separate words. A "(" begins a
// value that runs to the next ")", and is one word: "(" then its text with
// blanks and tabs removed, then ")" (missing when the text has none).
// So "TDI(0F)" gives "TDI" and "(0F)", and "( 0F 12 )" gives "(0F12)".
std::vector<std::string> StatementWords(std::string_view text);

// The same words, made A to Z, as views into one text that the next
// statement split uses again: splitting statement after statement costs no
// allocation once the longest has been seen.
class Words {
 public:
  // Splits the text as StatementWords does; with a to z made A to Z when
  // `upper`.
  void Split(std::string_view text, bool upper = true);
  [[nodiscard]] std::size_t size() const { return spans_.size(); }
  [[nodiscard]] bool empty() const { return spans_.empty(); }
  [[nodiscard]] std::string_view operator[](std::size_t i) const {
    return std::string_view(text_).substr(spans_[i].begin, spans_[i].size);
  }
  [[nodiscard]] std::string_view back() const { return (*this)[size() - 1]; }

 private:
  struct Span {
    std::size_t begin;
    std::size_t size;
  };
  std::string text_;
  std::vector<Span> spans_;
};

}  // namespace tavrin::svf
