// Graphics core: the screen, graphs made from pixels in memory, and the draw state that
// every drawing entry reads.
#pragma once

#include <cstdint>

namespace gamelib {

// Blend modes of the draw state (SetDrawBlendMode). Modes 5 to 9 belong to the
// 3-D back end; the software rasteriser draws nothing in them.
constexpr int BlendNone = 0;
constexpr int BlendAlpha = 1;
constexpr int BlendAdd = 2;
constexpr int BlendSub = 3;
constexpr int BlendMul = 4;
constexpr int BlendInverted = 10;
constexpr int BlendMulFade = 11;

// Draw-screen identifiers.
constexpr int kDrawScreenFront = -4;
constexpr int kDrawScreenBack = -2;

// ---- Pixel formats and images in memory ----------------------------------------------

// A pixel layout: depth, bytes per pixel, and per channel its mask, shift (Loc) and width.
// An 8-bit layout indexes `palette` (0x00RRGGBB entries).
struct ColorData {
  int colorBitDepth;  // 8, 16 or 32; 0 describes no format
  int pixelByte;
  int redWidth, greenWidth, blueWidth, alphaWidth;
  int redLoc, greenLoc, blueLoc, alphaLoc;
  std::uint32_t redMask, greenMask, blueMask, alphaMask;
  std::uint32_t palette[256];
};

// An image in memory: its layout, size, pitch in bytes and pixels. The pixels stay the
// caller's.
struct GraphImage {
  ColorData colorData;
  int width;
  int height;
  int pitch;
  void* graphData;
};

// Fills `colorData` with a 32-bit layout: X8R8G8B8, or A8R8G8B8 with `alpha`. 0.
int CreateFullColorData(ColorData* colorData, int alpha);
// A layout from its depth (16 or 32) and channel masks; -1 for masks that are not
// contiguous runs inside the depth.
int CreateColorDataFromMasks(ColorData* colorData, int colorBitDepth, std::uint32_t redMask,
                             std::uint32_t greenMask, std::uint32_t blueMask, std::uint32_t alphaMask);
// A pixel value of `colorData` from 8-bit channels (channels it lacks are dropped).
std::uint32_t GetColorForFormat(const ColorData* colorData, int red, int green, int blue, int alpha);

// ---- Screen ------------------------------------------------------------------------

// Screen size and colour depth (16 or 32) for the next start-up, or at once while the
// graphics system runs. 0, or -1 for a size below 1 or another depth.
int SetGraphMode(int width, int height, int colorBitDepth);
int GetScreenState(int* width, int* height, int* colorBitDepth);
// Whether new graphs live in textures when a 3-D device is present (default 1).
int SetUse3DFlag(int flag);
int GetUse3DFlag();
// Forbids the 3-D device altogether from the next screen-mode change on.
int SetNotUse3DFlag(int flag);
int GetNotUse3DFlag();
// 1 while a 3-D device draws.
int IsUse3DDrawing();
// A screen colour from 8-bit channels, and back.
int GetColor(int red, int green, int blue);
int GetColorRGB(int color, int* red, int* green, int* blue);
// Presents the back buffer. 0 or -1.
int ScreenFlip();
// Draw target: kDrawScreenFront, kDrawScreenBack or a graph made with MakeScreen.
int SetDrawScreen(int screen);
int GetDrawScreen();
// Texture filtering of graphs: 0 point (default), 1 bilinear.
int SetDrawMode(int mode);
int GetDrawMode();
// Transparent colour (0xRRGGBB) given to graphs made from now on.
int SetTransColor(int red, int green, int blue);

// ---- Graphs --------------------------------------------------------------------------

// A graph of the image's size holding its pixels; with `alphaImage` (same size; its
// blue channel is the alpha) or an image with alpha bits the graph has an alpha channel.
// Handle or -1.
int CreateGraphFromGraphImage(const GraphImage* image, const GraphImage* alphaImage);
// Writes an image (of the graph's size or larger; the top-left part is taken) into an
// existing graph. 0 or -1.
int ReCreateGraphFromGraphImage(const GraphImage* image, const GraphImage* alphaImage, int graph);
// An empty graph (zero-filled pixels); MakeScreen's graphs can be draw targets.
int MakeGraph(int width, int height);
int MakeScreen(int width, int height, int useAlphaChannel);
// A graph showing the rectangle of another, sharing its pixels. Handle or -1.
int DeriveGraph(int x, int y, int width, int height, int sourceGraph);
int DeleteGraph(int graph);
int GetGraphSize(int graph, int* width, int* height);
// Fills every pixel of the graph. 0 or -1.
int FillGraph(int graph, int red, int green, int blue, int alpha);

// ---- Drawing -------------------------------------------------------------------------
// Each entry draws into the draw screen under the draw state (blend mode and parameter,
// brightness, draw area, blend graph, draw mode). Results 0, or -1 for an invalid graph
// or a draw that cannot be made.

// The graph with its top-left corner at (x, y); transFlag: leave out transparent pixels.
int DrawGraph(int x, int y, int graph, int transFlag);
// The rectangle (srcX, srcY, width, height) of the graph at (destX, destY); turnFlag
// mirrors it left to right.
int DrawRectGraph(int destX, int destY, int srcX, int srcY, int width, int height, int graph, int transFlag,
                  int turnFlag);
// The graph stretched onto (x1, y1)-(x2, y2), right and bottom exclusive; x1 > x2 or
// y1 > y2 mirrors it.
int DrawStretchGraph(int x1, int y1, int x2, int y2, int graph, int transFlag);
// The graph at (x, y) mirrored left to right.
int DrawMirrorGraph(int x, int y, int graph, int transFlag);
// The rectangle (srcX, srcY, width, height) of the graph stretched onto (x1, y1)-(x2, y2).
int DrawRectStretchGraph(int x1, int y1, int x2, int y2, int srcX, int srcY, int width, int height, int graph,
                         int transFlag, int turnFlag);
// Pixels x1..x2 - 1 by y1..y2 - 1 (corners in either order) in a colour from GetColor.
int DrawFillBox(int x1, int y1, int x2, int y2, int color);
// The one-pixel border of the same rectangle.
int DrawBoxOutline(int x1, int y1, int x2, int y2, int color);
int DrawBox(int x1, int y1, int x2, int y2, int color, int fillFlag);
// Fills the draw screen with the background colour (SetBackgroundColor).
int ClearDrawScreen();

// The graph onto the quadrilateral of four corners given clockwise from the one its
// top-left corner lands on: top left, top right, bottom right, bottom left. -1 for an
// invalid graph or a corner that is not finite.
int DrawQuadGraph(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4, int graph,
                  int transFlag);

// Copies (x1, y1)-(x2, y2) of the draw screen (right and bottom exclusive, at most the
// graph's size) into the graph's top-left corner. With useClientFlag 0 while a window
// draws its front buffer the coordinates are the desktop's. 0 or -1.
int GetDrawScreenGraph(int x1, int y1, int x2, int y2, int graph, int useClientFlag = 1);

// ---- Draw state ----------------------------------------------------------------------

// Blend mode and parameter; the parameter is clamped to 0..255. Always 0.
int SetDrawBlendMode(int mode, int parameter);
int GetDrawBlendMode(int* mode, int* parameter);  // either pointer may be null

// Draw brightness per channel, each clamped to 0..255 (255, 255, 255 is "white"). Always 0.
int SetDrawBrightness(int red, int green, int blue);
int GetDrawBrightness(int* red, int* green, int* blue);

// Size of the current draw screen; the draw area is kept inside it. Setting it also
// resets the draw area to the whole screen. 0, or -1 for a size below 1.
int SetDrawScreenSize(int width, int height);
int GetDrawScreenSize(int* width, int* height);

// Draw area: left and top inclusive, right and bottom exclusive, clamped into the draw
// screen (an inverted rectangle becomes empty). Always 0.
int SetDrawArea(int left, int top, int right, int bottom);
int GetDrawArea(int* left, int* top, int* right, int* bottom);

// Blend graph (-1 none) with its border parameter and range (0..255). 0 or -1.
int SetBlendGraph(int graph, int borderParameter, int borderRange);

// Back to the defaults: blend mode 0, brightness white, no blend graph, draw area the
// whole draw screen. Always 0.
int ResetDrawState();

}  // namespace gamelib
