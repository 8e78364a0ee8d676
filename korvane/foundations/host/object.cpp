#include "korvane/foundations/host/object.h"

#include <algorithm>

namespace korvane {

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  BeginDestroy();
  DestroyComponents();
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::BeginDestroy() {
  if (notified_) return;
  notified_ = true;
  state_.Include(csDestroying);
  // Tell every subscriber; each drops its reference and its link to us.
  while (!free_notifies_.empty()) {
    TComponent* c = free_notifies_.back();
    free_notifies_.pop_back();
    c->RemoveFreeRef(this);
    c->Notification(this, opRemove);
  }
}

TComponent* TComponent::Components(int i) const {
  if (i < 0 || i >= int(components_.size())) return nullptr;
  return components_[size_t(i)];
}

int TComponent::ComponentIndex(const TComponent* c) const {
  auto it = std::find(components_.begin(), components_.end(), c);
  return it == components_.end() ? -1 : int(it - components_.begin());
}

void TComponent::InsertComponent(TComponent* c) {
  if (!c || c->owner_ == this) return;
  if (c->owner_) c->owner_->RemoveComponent(c);
  components_.push_back(c);
  c->owner_ = this;
  Notification(c, opInsert);
}

void TComponent::RemoveComponent(TComponent* c) {
  auto it = std::find(components_.begin(), components_.end(), c);
  if (it == components_.end()) return;
  // The owner and its other components hear of the removal first.
  Notification(c, opRemove);
  it = std::find(components_.begin(), components_.end(), c);
  if (it != components_.end()) components_.erase(it);
  c->owner_ = nullptr;
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* c = components_.back();
    components_.pop_back();
    c->owner_ = nullptr;
    // Siblings that hold references learn of the removal before the free.
    Notification(c, opRemove);
    delete c;
  }
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent) RemoveFreeNotification(AComponent);
  // Pass on to the owned components (copy: a handler may change the list).
  std::vector<TComponent*> owned = components_;
  for (TComponent* c : owned)
    if (c != AComponent && std::find(components_.begin(), components_.end(), c) != components_.end())
      c->Notification(AComponent, Operation);
}

void TComponent::AddFreeRef(TComponent* c) {
  if (std::find(free_notifies_.begin(), free_notifies_.end(), c) == free_notifies_.end())
    free_notifies_.push_back(c);
}

void TComponent::RemoveFreeRef(TComponent* c) {
  free_notifies_.erase(std::remove(free_notifies_.begin(), free_notifies_.end(), c),
                       free_notifies_.end());
}

void TComponent::FreeNotification(TComponent* c) {
  if (!c || c == this) return;
  AddFreeRef(c);
  c->AddFreeRef(this);
}

void TComponent::RemoveFreeNotification(TComponent* c) {
  if (!c) return;
  RemoveFreeRef(c);
  c->RemoveFreeRef(this);
}

void TComponent::SetDesigning(bool on) {
  if (on) state_.Include(csDesigning); else state_.Exclude(csDesigning);
  for (TComponent* c : components_) c->SetDesigning(on);
}

void TComponent::SetLoading(bool on) {
  if (on) state_.Include(csLoading); else state_.Exclude(csLoading);
}

}  // namespace korvane
