#include "registry/RegistryApi.h"

namespace orv {

namespace {
const RegistryApi kSystem = {&::RegCreateKeyExW, &::RegOpenKeyExW, &::RegDeleteKeyW, &::SHDeleteKeyW};
RegistryApi g_calls = kSystem;
}  // namespace

RegistryApi& RegistryCalls() { return g_calls; }
const RegistryApi& SystemRegistryCalls() { return kSystem; }

}  // namespace orv
