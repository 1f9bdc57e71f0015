// Draw settings to device state: the blend-mode table, the stage programmes (textured,
// with and without a blend graph, and untextured), the alpha test and the blend-graph
// border, sent through the record's copies so that only what changed reaches the device.
#include "d3d/draw_settings.h"

#include <array>

#include "d3d/d3d_state.h"
#include "d3d/device_record.h"

namespace gamelib {
namespace {

constexpr int kNone = -1;  // a factor or stage value left as it is

struct BlendModeRow {
  int destBlend;
  int srcBlend;
  int kind;  // 0 plain, 1 fade toward the factor (multiplication), 2 complemented colour
  bool blending;
};

constexpr BlendModeRow kBlendModeTable[12] = {
    {kNone, kNone, 0, false},
    {D3DBLEND_INVSRCALPHA, D3DBLEND_SRCALPHA, 0, true},
    {D3DBLEND_ONE, D3DBLEND_SRCALPHA, 0, true},
    {D3DBLEND_ZERO, D3DBLEND_INVDESTCOLOR, 0, true},
    {D3DBLEND_SRCCOLOR, D3DBLEND_ZERO, 0, true},
    {D3DBLEND_ONE, D3DBLEND_SRCALPHA, 0, true},
    {kNone, kNone, 0, false},
    {kNone, kNone, 0, true},
    {D3DBLEND_ONE, D3DBLEND_ZERO, 0, true},
    {D3DBLEND_ZERO, D3DBLEND_INVDESTCOLOR, 0, true},
    {D3DBLEND_INVSRCALPHA, D3DBLEND_SRCALPHA, 2, true},
    {D3DBLEND_SRCCOLOR, D3DBLEND_ZERO, 1, true},
};

// Modes outside the table never index it: they draw with mode 0's row.
const BlendModeRow& BlendRow(int mode) { return kBlendModeTable[mode >= 0 && mode < 12 ? mode : 0]; }

// One stage of a programme, in the order of the record's stage copies.
struct StageValues {
  int alphaArg1 = kNone, alphaArg2 = kNone, alphaOp = kNone;
  int colorArg1 = kNone, colorArg2 = kNone, colorOp = kNone;
};

struct StageProgramme {
  int count = 0;  // stages used; the next one is disabled
  StageValues stages[kStageCount];
};

StageValues Op(int colorOp, int colorArg1, int colorArg2, int alphaOp, int alphaArg1, int alphaArg2) {
  StageValues s;
  s.colorOp = colorOp;
  s.colorArg1 = colorArg1;
  s.colorArg2 = colorArg2;
  s.alphaOp = alphaOp;
  s.alphaArg1 = alphaArg1;
  s.alphaArg2 = alphaArg2;
  return s;
}

StageValues Disabled() { return Op(D3DTOP_DISABLE, kNone, kNone, D3DTOP_DISABLE, kNone, kNone); }

// Colour of the image: the texel, or the texel times the vertex colour.
void ImageColour(StageValues& s, int useColour, int textureArg) {
  s.colorOp = useColour ? D3DTOP_MODULATE : D3DTOP_SELECTARG1;
  s.colorArg1 = textureArg;
  s.colorArg2 = useColour ? D3DTA_DIFFUSE : kNone;
}

StageProgramme MakeProgramme(int group, int variant) {
  StageProgramme p;
  const int useColour = (group >> 1) & 1;
  const int useAlpha = group & 1;
  if (group >= 4 && group < 8) {
    // The blend graph in stage 0: its alpha shifted by the texture factor.
    p.stages[0] = Op(D3DTOP_SELECTARG2, kNone, D3DTA_DIFFUSE, D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_TFACTOR);
    const StageValues passOn =
        Op(D3DTOP_SELECTARG1, D3DTA_CURRENT, kNone, D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_CURRENT);
    StageValues image;
    ImageColour(image, useColour, D3DTA_TEXTURE);
    if (variant == 0) {
      image.alphaOp = D3DTOP_MODULATE;
      image.alphaArg1 = useAlpha ? D3DTA_DIFFUSE : D3DTA_CURRENT;
      image.alphaArg2 = useAlpha ? D3DTA_CURRENT : D3DTA_DIFFUSE;
      p.stages[1] = image;
      p.count = 2;
    } else {
      image.alphaOp = D3DTOP_MODULATE;
      image.alphaArg1 = D3DTA_TEXTURE;
      image.alphaArg2 = D3DTA_CURRENT;
      int next = 1;
      if (variant == 1) {
        p.stages[next++] =
            Op(D3DTOP_SELECTARG1, D3DTA_CURRENT, kNone, D3DTOP_MODULATE, D3DTA_SPECULAR, D3DTA_CURRENT);
      }
      p.stages[next++] = image;
      if (useAlpha) p.stages[next++] = passOn;
      p.count = next;
    }
  } else {
    const int kind = group / 8;
    StageValues& s = p.stages[0];
    ImageColour(s, useColour, kind == 2 ? (D3DTA_TEXTURE | D3DTA_COMPLEMENT) : D3DTA_TEXTURE);
    if (variant == 0) {
      s.alphaOp = D3DTOP_SELECTARG2;
      s.alphaArg2 = D3DTA_DIFFUSE;
    } else {
      s.alphaOp = useAlpha ? D3DTOP_MODULATE : D3DTOP_SELECTARG1;
      s.alphaArg1 = D3DTA_TEXTURE;
      s.alphaArg2 = useAlpha ? D3DTA_DIFFUSE : kNone;
    }
    p.count = 1;
    if (kind == 1) {
      p.stages[1] =
          Op(D3DTOP_BLENDCURRENTALPHA, D3DTA_CURRENT, D3DTA_TFACTOR, D3DTOP_SELECTARG1, D3DTA_CURRENT, kNone);
      p.count = 2;
    }
  }
  p.stages[p.count] = Disabled();
  return p;
}

// Programme 3 x group + variant; groups 12-15 stay empty.
const std::array<StageProgramme, 60>& StageSetTable() {
  static const std::array<StageProgramme, 60> table = [] {
    std::array<StageProgramme, 60> t{};
    for (int group = 0; group < 20; ++group) {
      if (group >= 12 && group < 16) continue;
      for (int variant = 0; variant < 3; ++variant) t[3 * group + variant] = MakeProgramme(group, variant);
    }
    return t;
  }();
  return table;
}

StageProgramme UntexturedProgramme(int mode, int kind) {
  StageProgramme p;
  StageValues& s = p.stages[0];
  s.alphaOp = D3DTOP_SELECTARG2;
  s.alphaArg2 = D3DTA_DIFFUSE;
  if (mode == 3) {
    s.colorOp = D3DTOP_SELECTARG1;
    s.colorArg1 = D3DTA_DIFFUSE;
  } else if (kind == 1) {
    s.colorOp = D3DTOP_BLENDDIFFUSEALPHA;
    s.colorArg1 = D3DTA_DIFFUSE;
    s.colorArg2 = D3DTA_TFACTOR;
  } else if (kind == 2) {
    s.colorOp = D3DTOP_SELECTARG1;
    s.colorArg1 = D3DTA_DIFFUSE | D3DTA_COMPLEMENT;
  } else {
    s.colorOp = D3DTOP_SELECTARG2;
    s.colorArg2 = D3DTA_DIFFUSE;
  }
  p.count = 1;
  p.stages[1] = Disabled();
  return p;
}

// Soft border: the stretch of stage 1 and the shift of stage 0 by border range and
// parameter. Factor alpha in 0..255.
void SoftBorder(int parameter, int range, int* stage1Op, int* stage0Op, std::uint32_t* factorAlpha) {
  int scale, stretch, op;
  if (range <= 64) {
    scale = 1280, stretch = 1024, op = D3DTOP_MODULATE4X;
  } else if (range <= 128) {
    scale = 768, stretch = 512, op = D3DTOP_MODULATE2X;
  } else {
    scale = 512, stretch = 256, op = D3DTOP_MODULATE;
  }
  const int multiplier = range <= 64 ? 64 : range <= 128 ? 128 : 255;
  const int t = scale - (parameter * scale) / 255;
  *stage1Op = op;
  if (t < stretch) {
    *stage0Op = D3DTOP_SUBTRACT;
    *factorAlpha = static_cast<std::uint32_t>(255 - (t * 255) / stretch);
  } else {
    *stage0Op = D3DTOP_ADD;
    *factorAlpha = static_cast<std::uint32_t>(((t - stretch) * multiplier) / 256);
  }
}

}  // namespace

int ApplyDrawSettings(int device) {
  D3DDeviceRecord* r = Direct3DAvailable() ? GetDeviceRecord(device) : nullptr;
  if (r == nullptr) return -1;
  if (!r->forceApply && !r->drawSettingsDirty && !r->textureChanged) return -1;

  if (!r->forceApply && !r->drawSettingsDirty) {
    // Only another texture: rebind the stage that shows the image.
    const int stage = r->blendGraph == nullptr ? 0 : r->alphaChannel ? 2 : 1;
    SetDeviceStageTexture(device, stage, r->texture);
    r->textureChanged = 0;
    return 0;
  }
  r->drawSettingsDirty = 0;
  r->textureChanged = 0;

  const BlendModeRow& row = BlendRow(r->blendMode);
  const std::uint32_t* copy = r->drawRenderStates;
  std::uint32_t states[kDrawRenderStateCount];
  states[kDrawStateDestBlend] = row.destBlend == kNone ? copy[kDrawStateDestBlend] : row.destBlend;
  states[kDrawStateSrcBlend] = row.srcBlend == kNone ? copy[kDrawStateSrcBlend] : row.srcBlend;
  states[kDrawStateDiffuseMaterialSource] = D3DMCS_COLOR1;
  states[kDrawStateSpecularMaterialSource] = D3DMCS_COLOR2;
  states[kDrawStateSpecularEnable] = 0;
  states[kDrawStateTextureFactor] = 0xFFFFFFFF;
  states[kDrawStateAlphaRef] = copy[kDrawStateAlphaRef];
  states[kDrawStateAlphaFunc] = copy[kDrawStateAlphaFunc];
  const bool blending = r->blendMode != 0 && r->blendMode != 6;
  IDirectDrawSurface7* textures[kStageCount] = {};
  const int variant = r->alphaChannel ? 1 : r->alphaTest ? 2 : 0;
  const int colourAlpha = 2 * (r->useDiffuseColor ? 1 : 0) + (r->useDiffuseAlpha ? 1 : 0);
  StageProgramme programme;

  auto alphaTest = [&states](std::uint32_t enable, std::uint32_t reference, std::uint32_t function) {
    states[kDrawStateAlphaTestEnable] = enable;
    if (enable) {
      states[kDrawStateAlphaRef] = reference;
      states[kDrawStateAlphaFunc] = function;
    }
  };
  auto srcAlphaBlend = [&states] {
    states[kDrawStateDestBlend] = D3DBLEND_INVSRCALPHA;
    states[kDrawStateSrcBlend] = D3DBLEND_SRCALPHA;
  };

  if (r->texture == nullptr) {
    programme = UntexturedProgramme(r->blendMode, row.kind);
    SelectVertexType(*r, 0);
    r->drawNothing = 0;
    alphaTest(0, 0, 0);
    states[kDrawStateTextureFactor] = copy[kDrawStateTextureFactor];
    states[kDrawStateAlphaBlendEnable] = blending ? 1 : 0;
  } else if (r->blendGraph == nullptr) {
    r->drawNothing = 0;
    SelectVertexType(*r, 1);
    textures[0] = r->texture;
    programme = StageSetTable()[3 * (8 * row.kind + colourAlpha) + variant];
    if (r->alphaTest) {
      alphaTest(1, 16, D3DCMP_GREATER);
    } else if (r->zEnable != 0) {
      // Fully transparent texels write no depth.
      alphaTest(1, 0, D3DCMP_GREATER);
    } else {
      alphaTest(0, 0, 0);
    }
    if (r->alphaChannel && !blending) srcAlphaBlend();
    states[kDrawStateAlphaBlendEnable] = r->alphaChannel || blending ? 1 : 0;
  } else {
    programme = StageSetTable()[3 * (4 + colourAlpha) + variant];
    if (!blending) srcAlphaBlend();
    r->drawNothing = r->borderParameter == 255 ? 1 : 0;
    SelectVertexType(*r, 2);
    textures[0] = r->blendGraph;
    textures[r->alphaChannel ? 2 : 1] = r->texture;
    // A parameter never set reads as 0, not as an all-ones reference.
    const int parameter = r->borderParameter < 0 ? 0 : r->borderParameter > 255 ? 255 : r->borderParameter;
    const int range = r->borderRange;
    if (range <= 1) {
      const int reference = parameter == 0 && (r->alphaChannel || r->alphaTest) ? 1 : parameter;
      alphaTest(1, static_cast<std::uint32_t>(reference), D3DCMP_GREATEREQUAL);
      states[kDrawStateAlphaBlendEnable] = 0;
      states[kDrawStateTextureFactor] = 0x00FFFFFF;
    } else {
      alphaTest(0, 0, 0);
      states[kDrawStateAlphaBlendEnable] = 1;
      int stage1Op = 0, stage0Op = 0;
      std::uint32_t factorAlpha = 0;
      SoftBorder(parameter, range, &stage1Op, &stage0Op, &factorAlpha);
      programme.stages[0].alphaOp = stage0Op;
      programme.stages[1].alphaOp = stage1Op;
      states[kDrawStateTextureFactor] = factorAlpha << 24 | 0x00FFFFFFu;
    }
  }

  if (programme.count != r->stageCount) {
    r->stageCount = programme.count;
    const int forced = r->forceApply;
    r->forceApply = 1;
    SetDeviceTextureFilter(device, r->filterMode);
    r->forceApply = forced;
  }

  static constexpr DrawRenderState kSendOrder[kDrawRenderStateCount] = {kDrawStateDiffuseMaterialSource,
                                                                        kDrawStateSpecularMaterialSource,
                                                                        kDrawStateSpecularEnable,
                                                                        kDrawStateAlphaFunc,
                                                                        kDrawStateAlphaRef,
                                                                        kDrawStateAlphaTestEnable,
                                                                        kDrawStateAlphaBlendEnable,
                                                                        kDrawStateTextureFactor,
                                                                        kDrawStateSrcBlend,
                                                                        kDrawStateDestBlend};
  for (DrawRenderState which : kSendOrder) SetDeviceDrawRenderState(device, which, states[which]);

  for (int s = 0; s <= programme.count && s < kStageCount; ++s) {
    if (s >= 2 && programme.stages[s - 1].alphaOp == D3DTOP_DISABLE) break;
    const StageValues& v = programme.stages[s];
    SetDeviceStageTexture(device, s, textures[s]);
    SetDeviceStageState(device, s, D3DTSS_ALPHAOP, v.alphaOp);
    SetDeviceStageState(device, s, D3DTSS_ALPHAARG1, v.alphaArg1);
    SetDeviceStageState(device, s, D3DTSS_ALPHAARG2, v.alphaArg2);
    SetDeviceStageState(device, s, D3DTSS_COLOROP, v.colorOp);
    SetDeviceStageState(device, s, D3DTSS_COLORARG1, v.colorArg1);
    SetDeviceStageState(device, s, D3DTSS_COLORARG2, v.colorArg2);
  }
  return 0;
}

}  // namespace gamelib
