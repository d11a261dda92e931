// SPDX-License-Identifier: Apache-2.0

#include "svf/words.h"

namespace tavrin::svf {

void Words::Split(std::string_view text, bool upper) {
  text_.clear();
  spans_.clear();
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  std::size_t i = 0;
  while (i < text.size()) {
    if (blank(text[i])) {
      ++i;
      continue;
    }
    const std::size_t begin = text_.size();
    if (text[i] == '(') {
      // Long values are copied in runs between blanks, not byte by byte.
      const std::size_t close = text.find(')', i);
      const std::size_t stop = close == std::string_view::npos ? text.size() : close + 1;
      while (i < stop) {
        std::size_t run = i;
        while (run < stop && !blank(text[run])) ++run;
        text_.append(text.substr(i, run - i));
        i = run;
        while (i < stop && blank(text[i])) ++i;
      }
    } else {
      const std::size_t start = i;
      while (i < text.size() && !blank(text[i]) && text[i] != '(') ++i;
      text_.append(text.substr(start, i - start));
    }
    if (upper) {
      for (std::size_t k = begin; k < text_.size(); ++k) {
        const char c = text_[k];
        if (c >= 'a' && c <= 'z') text_[k] = static_cast<char>(c - 'a' + 'A');
      }
    }
    spans_.push_back({begin, text_.size() - begin});
  }
}

std::vector<std::string> StatementWords(std::string_view text) {
  Words split;
  split.Split(text, false);
  std::vector<std::string> words;
  words.reserve(split.size());
  for (std::size_t i = 0; i < split.size(); ++i) words.emplace_back(split[i]);
  return words;
}

}  // namespace tavrin::svf
