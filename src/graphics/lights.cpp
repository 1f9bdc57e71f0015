// The light table and the deletion of lights.
#include "graphics/lights.h"

#include "gamelib/core.h"

namespace gamelib {
namespace {

FixedHandleTable<kMaxLights> g_lights;
bool g_lightsReady = false;

}  // namespace

HandleTable* GetLightTable() {
  if (!g_lightsReady) {
    InitHandleTable(&g_lights, kHandleTypeLight);
    g_lightsReady = true;
  }
  return &g_lights.table;
}

LightRecord* GetLightRecord(int handle) {
  return static_cast<LightRecord*>(GetHandleRecord(GetLightTable(), handle));
}

int DeleteLight(int handle) {
  if (GetLightRecord(handle) == nullptr) return -1;
  FreeMemory(ReleaseHandleSlot(GetLightTable(), HandleSlot(handle)));
  return 0;
}

void DeleteAllLightRecords() {
  HandleTable* table = GetLightTable();
  for (int slot = table->highWater - 1; slot >= 0; --slot) FreeMemory(ReleaseHandleSlot(table, slot));
}

}  // namespace gamelib
