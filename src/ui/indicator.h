// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>

#include <QColor>
#include <QFrame>

namespace tavrin::ui {

// A filled indicator shape (sh_DevState, sh_ISPState). Colours are 24-bit
// numbers with red in the low byte and blue in the high byte.
class IndicatorShape final : public QFrame {
 public:
  explicit IndicatorShape(QWidget* parent = nullptr) : QFrame(parent) {
    setFrameShape(QFrame::Box);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);
    SetColour(255);
  }

  void SetColour(std::uint32_t colour) {
    colour_ = colour & 0xFFFFFFU;
    QPalette p = palette();
    p.setColor(QPalette::Window, Fill());
    setPalette(p);
  }
  [[nodiscard]] std::uint32_t Colour() const { return colour_; }
  // The colour the shape is painted with.
  [[nodiscard]] QColor Fill() const {
    return {static_cast<int>(colour_ & 0xFFU), static_cast<int>((colour_ >> 8U) & 0xFFU),
            static_cast<int>((colour_ >> 16U) & 0xFFU)};
  }

 private:
  std::uint32_t colour_ = 0;
};

}  // namespace tavrin::ui
