// Light records: data only (never sent to the device), behind light handles.
#pragma once

#include "core/handle_table.h"
#include "platform/d3d.h"

namespace gamelib {

constexpr int kMaxLights = 4096;

struct LightRecord {
  int check;  // the handle's check number (first word, for the handle table)
  int handle;
  D3DLIGHT7 light;
  int deviceLightIndex;  // -1: not placed on a device
  int enabled;
};

// The table of lights (initialised on first use). Records come from AllocMemoryZeroed.
HandleTable* GetLightTable();
LightRecord* GetLightRecord(int handle);
// Frees the record and its slot. 0, or -1 for an invalid handle.
int DeleteLight(int handle);
// Deletes every light (graphics shutdown).
void DeleteAllLightRecords();

}  // namespace gamelib
