/// \file
/// The root of the component vocabulary: TObject, small sets, notify events and
/// TComponent with ownership and removal notification.
#pragma once
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "korvane/foundations/host/export.h"

namespace korvane {

/// Root of every Sender and of the plain objects (bitmaps, records, streams).
class KORVANE_EXPORT TObject {
 public:
  virtual ~TObject() = default;
};

/// A set of enumerators stored as a bit mask (enumerators below 64).
template <typename E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> items) {
    for (E e : items) bits_ |= Bit(e);
  }
  constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
  constexpr TSet& Include(E e) { bits_ |= Bit(e); return *this; }
  constexpr TSet& Exclude(E e) { bits_ &= ~Bit(e); return *this; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr uint64_t Mask() const { return bits_; }
  static constexpr TSet FromMask(uint64_t m) { TSet s; s.bits_ = m; return s; }
  constexpr TSet operator+(TSet o) const { return FromMask(bits_ | o.bits_); }
  constexpr TSet operator-(TSet o) const { return FromMask(bits_ & ~o.bits_); }
  constexpr TSet operator*(TSet o) const { return FromMask(bits_ & o.bits_); }
  constexpr bool operator==(const TSet&) const = default;

 private:
  static constexpr uint64_t Bit(E e) { return uint64_t(1) << static_cast<unsigned>(e); }
  uint64_t bits_ = 0;
};

/// Event types: "assigned" means a non-empty std::function.
using TNotifyEvent = std::function<void(TObject* Sender)>;

enum TOperation { opInsert, opRemove };
enum TComponentStateItem { csLoading, csReading, csWriting, csDestroying, csDesigning };
using TComponentState = TSet<TComponentStateItem>;

/// A component owned by another is freed by its owner; components that hold a
/// reference to another ask for a removal notification with FreeNotification
/// and drop the reference in Notification(..., opRemove).
class KORVANE_EXPORT TComponent : public TObject {
 public:
  explicit TComponent(TComponent* AOwner = nullptr);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return int(components_.size()); }
  /// The i-th owned component, nullptr outside the range.
  TComponent* Components(int i) const;
  int ComponentIndex(const TComponent* c) const;

  /// Take ownership of c (leaving its previous owner) / give it up.
  void InsertComponent(TComponent* c);
  void RemoveComponent(TComponent* c);
  /// Free every owned component.
  void DestroyComponents();

  /// Called with opRemove when a component this one is interested in (owned, or
  /// subscribed with FreeNotification) is being destroyed. The default passes
  /// the notification on to the owned components.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  /// Ask to be told (through Notification) when c is destroyed; mutual.
  void FreeNotification(TComponent* c);
  void RemoveFreeNotification(TComponent* c);

  TComponentState ComponentState() const { return state_; }
  void SetDesigning(bool on);
  void SetLoading(bool on);
  bool Destroying() const { return state_.Contains(csDestroying); }

  const std::string& Name() const { return name_; }
  void SetName(const std::string& n) { name_ = n; }
  intptr_t Tag = 0;

 protected:
  /// Marks csDestroying and sends the removal notifications; derived
  /// destructors that need their state while others are notified call it first.
  void BeginDestroy();
  TComponentState state_;

 private:
  void AddFreeRef(TComponent* c);
  void RemoveFreeRef(TComponent* c);

  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> free_notifies_;
  std::string name_;
  bool notified_ = false;
};

}  // namespace korvane
