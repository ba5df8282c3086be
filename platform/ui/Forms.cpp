#include "platform/ui/Forms.h"

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {}

TApplication::~TApplication() = default;

namespace {
TApplication TheApplication(nullptr);
}  // namespace

TApplication* Application = &TheApplication;
