// observer.cpp -- the list of a seam part's observers.
#include "platform/observer.h"

#include <algorithm>

namespace qv {

void Observable::Watch(PlatformObserver& observer) {
  if (std::find(observers_.begin(), observers_.end(), &observer) == observers_.end()) {
    observers_.push_back(&observer);
  }
}

void Observable::Unwatch(PlatformObserver& observer) { std::erase(observers_, &observer); }

void Observable::Tell(std::string_view op, int id, std::string_view subject,
                      std::string_view value) const {
  const PlatformEvent event{op, id, subject, value};
  for (PlatformObserver* observer : observers_) observer->Saw(event);
}

}  // namespace qv
