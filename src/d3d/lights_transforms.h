// Lights (data records behind light handles, never sent to the device) and the world,
// view and projection matrices with their copies on the device.
#pragma once

#include "platform/d3d.h"

namespace gamelib {

// A light with the default parameters: handle, or -1 when the table is full. Ends the
// process when the record cannot be allocated.
int AddLight();
// A directional light along (x, y, z) normalised; a zero vector gives non-finite
// components. Handle or -1.
int CreateDirectionalLight(float x, float y, float z);
// Deletes every light. 0.
int DeleteAllLights();

// Store the matrix in the draw state, recompute the derived ones and, while 3-D drawing
// is available, send it to the current device. 0, or -1 for a null matrix. There is one
// world matrix whatever the index; the index picks the device's world transform (0..3).
int SetWorldMatrix(const D3DMATRIX* matrix, int index);
int SetViewMatrix(const D3DMATRIX* matrix);
int SetProjectionMatrix(const D3DMATRIX* matrix);
// combined = world x view x projection x viewport; the view rotation transposed.
void UpdateCombinedMatrices();
// Called after every matrix change and draw-area or draw-target change; nothing
// depends on it yet. 0.
int NotifyTransformChanged();

// Draw the device's batch, then send the transform. 0, or -1 without Direct3D, a record
// not in use or a released device. A world index outside 0..3 sends nothing.
int SetWorldTransformOnDevice(int device, const D3DMATRIX* matrix, int index);
int SetCurrentDeviceWorldTransform(const D3DMATRIX* matrix, int index);
int SetCurrentDeviceViewTransform(const D3DMATRIX* matrix);
int SetCurrentDeviceProjectionTransform(const D3DMATRIX* matrix);

}  // namespace gamelib
