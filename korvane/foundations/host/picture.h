/// \file
/// The picture holder and the picture control of the host layer. TPicture
/// holds one graphic (a bitmap, or a TGraphic such as a metafile) and
/// reports every change of it; TImage is a small control that shows its
/// picture's bitmap, stretched or centred, and repaints when it changes.
#pragma once
#include <memory>

#include "korvane/foundations/host/controls.h"
#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"

namespace korvane {

/// Holds one graphic object. Asking for the bitmap makes the picture hold one
/// (an empty 24-bit bitmap replaces any other graphic).
class KORVANE_EXPORT TPicture : public TObject {
 public:
  TPicture() = default;
  ~TPicture() override;
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  /// The graphic held (a TBitmap, or another graphic class); null when empty.
  TObject* Graphic() const { return graphic_.get(); }
  /// Takes ownership of g (null empties the picture) and reports the change.
  void SetGraphic(std::unique_ptr<TObject> g);
  /// The bitmap, created when the picture holds none.
  TBitmap* Bitmap();
  /// Makes the picture hold a copy of a bitmap (null empties it).
  void SetBitmap(const TBitmap* b);
  /// A picture, a bitmap or null (empties) are copied; other sources are ignored.
  void Assign(TObject* Source);
  /// Size of the bitmap or other TGraphic held; 0 when empty.
  int Width() const;
  /// Height of the bitmap or other TGraphic held; 0 when empty.
  int Height() const;

  /// Called after the graphic changed or was replaced.
  TNotifyEvent OnChange;

 private:
  void Hook();
  void Changed() {
    if (OnChange) OnChange(this);
  }
  std::unique_ptr<TObject> graphic_;
};

/// A control showing a picture's bitmap: at its natural size from the top
/// left, centred in the client area, or stretched over it.
class KORVANE_EXPORT TImage : public TCustomControl {
  Q_OBJECT
  Q_PROPERTY(bool Stretch READ GetStretch WRITE SetStretch)
  Q_PROPERTY(bool Center READ GetCenter WRITE SetCenter)

 public:
  /// An empty 105 x 105 image owned by `AOwner`, neither stretched nor centred; it repaints
  /// whenever its picture changes.
  explicit TImage(TComponent* AOwner, QWidget* parent = nullptr);
  template <KVFormParent P>
  explicit TImage(P* parent) : TImage(nullptr, parent) {}
  /// Sends the removal notifications while the picture still exists, then unhooks it.
  ~TImage() override;

  /// The picture shown; it stays owned by the image, and changing it repaints the control.
  TPicture* Picture() { return &picture_; }
  /// Copies a picture or bitmap into the image's picture (null empties it), as TPicture::Assign.
  void SetPicture(TObject* Source) { picture_.Assign(Source); }
  /// Whether the graphic is scaled to fill the whole client area (aspect ratio not kept); false
  /// by default, and it takes precedence over Center.
  bool GetStretch() const { return stretch_; }
  /// Sets Stretch and repaints when it changes.
  void SetStretch(bool on);
  /// Whether an unstretched graphic is centred in the client area rather than placed at the top
  /// left; false by default.
  bool GetCenter() const { return center_; }
  /// Sets Center and repaints when it changes.
  void SetCenter(bool on);

  /// Draws the bitmap or other graphic per Stretch and Center; an empty picture draws nothing.
  void Paint() override;

 private:
  TPicture picture_;
  bool stretch_ = false;
  bool center_ = false;
};

}  // namespace korvane
