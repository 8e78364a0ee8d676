/// \file
/// The bitmap a non-visual component works on: the current bitmap of an
/// attached view (followed through the view's bitmap-change listeners), the
/// bitmap of a picture control, or a bare bitmap. The I/O and processing
/// components keep one each.
#pragma once
#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/picture.h"
#include "korvane/view/kvview.h"

namespace korvane {

class KORVANE_EXPORT TAttachedTarget {
 public:
  /// owner asks for the removal notifications and is the listener's key.
  explicit TAttachedTarget(TComponent* owner) : owner_(owner) {}
  ~TAttachedTarget() { DropListener(); }
  TAttachedTarget(const TAttachedTarget&) = delete;
  TAttachedTarget& operator=(const TAttachedTarget&) = delete;

  TKVView* View() const { return view_; }
  TImage* Image() const { return image_; }
  /// The picture's bitmap is read at each use: the picture may have been
  /// given another one since the attachment.
  TBitmap* Bitmap() const { return image_ ? image_->Picture()->Bitmap() : bitmap_; }

  /// Works on v's bitmap and follows v when it puts another in place. Null
  /// drops the view and, when one was attached, its bitmap; a picture
  /// control stays.
  void AttachView(TKVView* v) {
    DropListener();
    const bool hadView = view_ != nullptr;
    view_ = v;
    if (!v) {
      if (hadView) bitmap_ = nullptr;
      return;
    }
    bitmap_ = v->GetFBitmap();
    owner_->FreeNotification(v);
    image_ = nullptr;
    v->RegisterBitmapChangeEvent(owner_, [this](TObject*) {
      if (view_) bitmap_ = view_->GetFBitmap();
    });
  }
  /// Works on the picture control's bitmap (the picture gets one if it has none).
  void AttachImage(TImage* c) {
    DropListener();
    view_ = nullptr;
    bitmap_ = nullptr;
    image_ = c;
    if (!c) return;
    c->Picture()->Bitmap();
    owner_->FreeNotification(c);
  }
  /// A bare bitmap, used in place. Null while a view or picture control is
  /// attached keeps that attachment.
  void AttachBitmap(TBitmap* b) {
    if (!b && (view_ || image_)) return;
    DropListener();
    bitmap_ = b;
    view_ = nullptr;
    image_ = nullptr;
  }
  /// Forgets a picture control only (an attached view stays).
  void DropImage() { image_ = nullptr; }
  /// No view, picture control or bitmap.
  void Clear() {
    DropListener();
    view_ = nullptr;
    image_ = nullptr;
    bitmap_ = nullptr;
  }
  /// From the owner's Notification: a destroyed view or picture control took
  /// its bitmap with it.
  void Removed(TComponent* c) {
    if (view_ && c == static_cast<TComponent*>(view_)) {
      view_->RemoveBitmapChangeEvent(owner_);
      view_ = nullptr;
      bitmap_ = nullptr;
    }
    if (image_ && c == static_cast<TComponent*>(image_)) {
      image_ = nullptr;
      bitmap_ = nullptr;
    }
  }
  /// After the bitmap changed: the view's Update and ImageChange, or the
  /// bitmap marked modified with its change event (a picture repaints).
  void Refresh() {
    if (view_) {
      view_->Update();
      view_->ImageChange();
    } else if (TBitmap* b = Bitmap()) {
      b->Changed();
    }
  }

 private:
  void DropListener() {
    if (view_) view_->RemoveBitmapChangeEvent(owner_);
  }
  TComponent* owner_;
  TKVView* view_ = nullptr;
  TImage* image_ = nullptr;
  TBitmap* bitmap_ = nullptr;
};

}  // namespace korvane
