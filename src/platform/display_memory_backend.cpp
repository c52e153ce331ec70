#include "platform/display_memory_backend.h"

bool CMemoryDisplayBackend::attach(QWidget* window) {
  if (refuseOpen_.load()) return false;
  window_.store(window);
  attached_.store(true);
  return true;
}

void CMemoryDisplayBackend::present(const uint16_t* /*memory*/) {
  presents_.fetch_add(1);
}
