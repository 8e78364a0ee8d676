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
  /// The set holding `items`; duplicates are harmless.
  constexpr TSet(std::initializer_list<E> items) {
    for (E e : items) bits_ |= Bit(e);
  }
  /// True when `e` is in the set.
  constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
  /// Adds `e` and returns this set, so calls chain.
  constexpr TSet& Include(E e) { bits_ |= Bit(e); return *this; }
  /// Removes `e` (no effect when absent) and returns this set.
  constexpr TSet& Exclude(E e) { bits_ &= ~Bit(e); return *this; }
  /// True when no enumerator is in the set.
  constexpr bool Empty() const { return bits_ == 0; }
  /// The bit mask: bit n is set when the enumerator with value n is in the set.
  constexpr uint64_t Mask() const { return bits_; }
  /// The set whose bit mask is `m` (the inverse of Mask).
  static constexpr TSet FromMask(uint64_t m) { TSet s; s.bits_ = m; return s; }
  /// The union of this set and `o`.
  constexpr TSet operator+(TSet o) const { return FromMask(bits_ | o.bits_); }
  /// This set without the members of `o`.
  constexpr TSet operator-(TSet o) const { return FromMask(bits_ & ~o.bits_); }
  /// The members this set and `o` have in common.
  constexpr TSet operator*(TSet o) const { return FromMask(bits_ & o.bits_); }
  /// True when both sets hold exactly the same members.
  constexpr bool operator==(const TSet&) const = default;

 private:
  static constexpr uint64_t Bit(E e) { return uint64_t(1) << static_cast<unsigned>(e); }
  uint64_t bits_ = 0;
};

/// Event types: "assigned" means a non-empty std::function.
using TNotifyEvent = std::function<void(TObject* Sender)>;

/// What Notification reports: opInsert when a component gains an owned component, opRemove when
/// a component is removed from its owner or destroyed.
enum TOperation { opInsert, opRemove };
/// The state flags of a component: being loaded, read or written, being destroyed, or in design mode.
enum TComponentStateItem { csLoading, csReading, csWriting, csDestroying, csDesigning };
/// The set of state flags a component carries.
using TComponentState = TSet<TComponentStateItem>;

/// A component owned by another is freed by its owner; components that hold a
/// reference to another ask for a removal notification with FreeNotification
/// and drop the reference in Notification(..., opRemove).
class KORVANE_EXPORT TComponent : public TObject {
 public:
  /// Creates a component; a non-null `AOwner` takes ownership and frees it with itself.
  explicit TComponent(TComponent* AOwner = nullptr);
  /// Notifies the subscribers (unless BeginDestroy already did), frees the owned components and
  /// leaves the owner, which tells its other components.
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  /// The component that frees this one, or nullptr when nobody owns it.
  TComponent* Owner() const { return owner_; }
  /// The number of components this one owns.
  int ComponentCount() const { return int(components_.size()); }
  /// The i-th owned component, nullptr outside the range.
  TComponent* Components(int i) const;
  /// The position of `c` among the owned components, or -1 when this one does not own it.
  int ComponentIndex(const TComponent* c) const;

  /// Take ownership of c (leaving its previous owner) / give it up.
  void InsertComponent(TComponent* c);
  /// Gives up ownership of `c` without freeing it, after a Notification(c, opRemove); no effect
  /// when `c` is not owned here.
  void RemoveComponent(TComponent* c);
  /// Free every owned component.
  void DestroyComponents();

  /// Called with opRemove when a component this one is interested in (owned, or
  /// subscribed with FreeNotification) is being destroyed. The default passes
  /// the notification on to the owned components.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  /// Ask to be told (through Notification) when c is destroyed; mutual.
  void FreeNotification(TComponent* c);
  /// Cancels the removal notification between this component and `c`, in both directions.
  void RemoveFreeNotification(TComponent* c);

  /// The component's current state flags.
  TComponentState ComponentState() const { return state_; }
  /// Sets or clears csDesigning on this component and, recursively, on every owned component.
  void SetDesigning(bool on);
  /// Sets or clears csLoading on this component only.
  void SetLoading(bool on);
  /// True once destruction has begun (csDestroying is set).
  bool Destroying() const { return state_.Contains(csDestroying); }

  /// The component's name; empty by default and not checked for uniqueness.
  const std::string& Name() const { return name_; }
  /// Sets the name; any string is taken as is, the empty one included.
  void SetName(const std::string& n) { name_ = n; }
  intptr_t Tag = 0;  ///< A free value for the application; the library never reads it.

 protected:
  /// Marks csDestroying and sends the removal notifications; derived
  /// destructors that need their state while others are notified call it first.
  void BeginDestroy();
  TComponentState state_;  ///< The state flags that ComponentState reports.

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
