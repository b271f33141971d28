// Per-pixel-format rules of the tile stage: how a source pixel becomes the four plane
// values (boost, weighting, alpha on the working scale) and how a blurred, normalised value
// goes back into the format (scale, limits, rounding). One traits struct per pixel type so
// that the tile loops are written once as templates.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

#include "api/effect_api.h"

// Everything the loading step needs from the record, computed once per render.
struct TileLoadRule {
  double gain;                // K: factor for colour channels at or above the threshold
  int32_t threshold;          // T, in 8-bit units
  double weight_base;         // M
  bool weighted;              // M != 1.0
  double float_cap;           // 0.12890625 / ln M (infinite when M is 1)
  double inverse_log_weight;  // 1 / ln M
};

// Plane values of one source pixel: red, green, blue, alpha on the working scale.
struct PlaneValues {
  double r, g, b, a;
};

template <typename Pixel>
struct TilePixelTraits;

// 8-bit: working scale equals the channel scale; alpha full scale 255.
template <>
struct TilePixelTraits<PF_Pixel8> {
  static constexpr double kAlphaFullScale = 255.0;

  // The tile stage tabulates this for the 256 channel values once per render.
  static double colour(uint8_t c, const TileLoadRule& rule) {
    const double v = c >= rule.threshold ? c * rule.gain : static_cast<double>(c);
    return rule.weighted ? std::pow(rule.weight_base, v) : v;
  }
  static PlaneValues load(const PF_Pixel8& px, const TileLoadRule& rule) {
    return {colour(px.red, rule), colour(px.green, rule), colour(px.blue, rule),
            static_cast<double>(px.alpha)};
  }
  static uint8_t store_channel(double v) {
    // !(v > 0) also sends a not-a-number to 0 instead of into an undefined conversion.
    if (!(v > 0.0)) return 0;
    if (v > 255.0) return 255;
    return static_cast<uint8_t>(std::floor(v + 0.5));
  }
  static PF_Pixel8 store(double r, double g, double b, double a, const TileLoadRule&) {
    return {store_channel(a), store_channel(r), store_channel(g), store_channel(b)};
  }
  // The weighting is undone as log_scale x ln(value): the plane values are pow(M, v).
  static double log_scale(const TileLoadRule& rule) { return rule.inverse_log_weight; }
};

// 16-bit: working scale is the channel value / 128 (0..256); alpha full scale 256.
template <>
struct TilePixelTraits<PF_Pixel16> {
  static constexpr double kAlphaFullScale = 256.0;

  // The tile stage tabulates this for 0..32768 once per render when it has the memory.
  static double colour(uint16_t c, const TileLoadRule& rule) {
    const double v = c >= 128 * rule.threshold ? c * rule.gain / 128.0 : c / 128.0;
    return rule.weighted ? std::pow(rule.weight_base, v) : v;
  }
  static PlaneValues load(const PF_Pixel16& px, const TileLoadRule& rule) {
    return {colour(px.red, rule), colour(px.green, rule), colour(px.blue, rule), px.alpha / 128.0};
  }
  static uint16_t store_channel(double v) {
    v *= 128.0;
    if (!(v > 0.0)) return 0;
    if (v > 32768.0) return 32768;
    return static_cast<uint16_t>(std::floor(v + 0.5));
  }
  static PF_Pixel16 store(double r, double g, double b, double a, const TileLoadRule&) {
    return {store_channel(a), store_channel(r), store_channel(g), store_channel(b)};
  }
  static double log_scale(const TileLoadRule& rule) { return rule.inverse_log_weight; }
};

// 32-bit float: working scale equals the channel scale; alpha full scale 1. Colour is not
// limited above; only the exponent of the weighting uses 255 x colour.
template <>
struct TilePixelTraits<PF_PixelFloat> {
  static constexpr double kAlphaFullScale = 1.0;

  // The threshold in the channel's own precision: a float channel holding T / 255 as
  // closely as a float can (what an 8-bit T becomes in float) is boosted for every T.
  static float threshold(const TileLoadRule& rule) {
    return static_cast<float>(rule.threshold / 255.0);
  }
  // An infinity or a not-a-number would spread through the transform over the whole tile
  // (so would the largest finite value, through rounding); such a channel enters as 0.
  static double finite(float c) { return std::fabs(c) <= FLT_MAX ? static_cast<double>(c) : 0.0; }
  static double colour(double c, float threshold, const TileLoadRule& rule) {
    double v = c >= threshold ? c * rule.gain : c;
    if (v > rule.float_cap) v = rule.float_cap;
    return rule.weighted ? std::pow(rule.weight_base, 255.0 * v) : v;
  }
  static PlaneValues load(const PF_PixelFloat& px, const TileLoadRule& rule) {
    const float t = threshold(rule);
    const double a = finite(px.alpha);
    if (a <= 3e-5) {
      // A transparent source counts as transparent black whatever its colour says.
      const double zero = colour(0.0, t, rule);
      return {zero, zero, zero, 0.0};
    }
    return {colour(finite(px.red), t, rule), colour(finite(px.green), t, rule),
            colour(finite(px.blue), t, rule), a};
  }
  // The plane values are pow(M, 255 v): one product takes the logarithm back to v.
  static double log_scale(const TileLoadRule& rule) { return rule.inverse_log_weight / 255.0; }
  static float store_colour(double v) {
    if (!(v > 0.0)) return 0.0f;
    // Boosted colours near the top of the float range stay the largest float, not infinity.
    if (v > FLT_MAX) return FLT_MAX;
    return static_cast<float>(v);
  }
  static float store_alpha(double v) {
    if (!(v > 0.0)) return 0.0f;
    if (v > 1.0) return 1.0f;
    return static_cast<float>(v);
  }
  static PF_PixelFloat store(double r, double g, double b, double a, const TileLoadRule&) {
    return {store_alpha(a), store_colour(r), store_colour(g), store_colour(b)};
  }
};
