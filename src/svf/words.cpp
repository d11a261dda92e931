// SPDX-License-Identifier: Apache-2.0

#include "svf/words.h"

namespace tavrin::svf {

void Words::Split(std::string_view text, bool upper) {
  spans_.clear();
  // The words are never longer than the text: they are written in place,
  // a character at a time, and the text is cut to them at the end.
  text_.resize(text.size());
  char* const out = text_.data();
  std::size_t n = 0;
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  const auto put = [&](char c) {
    out[n++] = upper && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  };
  std::size_t i = 0;
  while (i < text.size()) {
    if (blank(text[i])) {
      ++i;
      continue;
    }
    const std::size_t begin = n;
    if (text[i] == '(') {
      const std::size_t close = text.find(')', i);
      const std::size_t stop = close == std::string_view::npos ? text.size() : close + 1;
      for (; i < stop; ++i) {
        if (!blank(text[i])) put(text[i]);
      }
    } else {
      for (; i < text.size() && !blank(text[i]) && text[i] != '('; ++i) put(text[i]);
    }
    spans_.push_back({begin, n - begin});
  }
  text_.resize(n);
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
