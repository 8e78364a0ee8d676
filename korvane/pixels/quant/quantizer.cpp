#include "korvane/pixels/quant/quantizer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "korvane/foundations/host/graphics.h"

namespace korvane {

namespace {

// The pixels of a bitmap as 24-bit rows. A bitmap in another format is
// converted into a private copy first; the source is never changed.
class Rows24 {
 public:
  explicit Rows24(TBitmap* bmp) {
    if (bmp && !bmp->Empty() && bmp->PixelFormat() != pf24bit) {
      copy_ = std::make_unique<TBitmap>();
      copy_->Assign(bmp);
      copy_->SetPixelFormat(pf24bit);
      bmp = copy_.get();
    }
    if (!bmp || bmp->Empty()) return;
    w_ = bmp->Width();
    h_ = bmp->Height();
    row0_ = bmp->Scanline(0);
    stride_ = h_ > 1 ? bmp->Scanline(1) - row0_ : 0;
  }
  int Width() const { return w_; }
  int Height() const { return h_; }
  int64_t Pixels() const { return int64_t(w_) * h_; }
  const TRGB* Row(int y) const { return reinterpret_cast<const TRGB*>(row0_ + stride_ * y); }

 private:
  std::unique_ptr<TBitmap> copy_;
  int w_ = 0, h_ = 0;
  const uint8_t* row0_ = nullptr;
  ptrdiff_t stride_ = 0;
};

// ---------------------------------------------------------------------------
// Median cut

constexpr int kCells = 32768;

// A box of the 5-bit color cube: [lo, hi) per channel (0 red, 1 green,
// 2 blue), its pixel count, means, marginal histograms and its variance (the
// squared deviations of its pixels from its means, summed over the channels
// and divided by the image's pixel count, so that boxes compare by their share
// of the total error).
struct Box {
  int lo[3] = {0, 0, 0};
  int hi[3] = {32, 32, 32};
  uint64_t count = 0;
  double mean[3] = {0, 0, 0};
  double var = 0;
  uint64_t marg[3][32] = {};
  bool splittable = true;
};

// Cell counts with 64-bit totals. The hot loop counts into 32-bit cells and
// folds them into the 64-bit table before any cell could overflow.
void BuildHistogram(const Rows24& img, std::vector<uint64_t>& hist) {
  hist.assign(kCells, 0);
  std::vector<uint32_t> part(kCells, 0);
  const int w = img.Width();
  if (w == 0) return;
  const int64_t rows_per_fold = std::max<int64_t>(1, int64_t(UINT32_MAX) / w);
  int64_t since_fold = 0;
  uint32_t* h = part.data();
  for (int y = 0; y < img.Height(); ++y) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(img.Row(y));
    const uint8_t* end = p + 3 * size_t(w);
    for (; p != end; p += 3) ++h[((p[2] >> 3) << 10) | ((p[1] >> 3) << 5) | (p[0] >> 3)];
    if (++since_fold == rows_per_fold) {
      for (int i = 0; i < kCells; ++i) hist[i] += part[i];
      std::fill(part.begin(), part.end(), 0u);
      since_fold = 0;
    }
  }
  for (int i = 0; i < kCells; ++i) hist[i] += part[i];
}

// Fills count, marginals, means and variance of a box from the histogram.
void BoxStats(const uint64_t* hist, Box& b, double total) {
  std::memset(b.marg, 0, sizeof b.marg);
  for (int r = b.lo[0]; r < b.hi[0]; ++r) {
    for (int g = b.lo[1]; g < b.hi[1]; ++g) {
      const uint64_t* cell = hist + r * 1024 + g * 32;
      uint64_t line = 0;
      for (int bl = b.lo[2]; bl < b.hi[2]; ++bl) {
        uint64_t n = cell[bl];
        line += n;
        b.marg[2][bl] += n;
      }
      b.marg[0][r] += line;
      b.marg[1][g] += line;
    }
  }
  b.count = 0;
  for (int v = b.lo[0]; v < b.hi[0]; ++v) b.count += b.marg[0][v];
  b.var = 0;
  if (b.count == 0) return;
  for (int c = 0; c < 3; ++c) {
    double s = 0;
    for (int v = b.lo[c]; v < b.hi[c]; ++v) s += double(v) * double(b.marg[c][v]);
    double m = s / double(b.count);
    double ss = 0;
    for (int v = b.lo[c]; v < b.hi[c]; ++v) ss += double(b.marg[c][v]) * (v - m) * (v - m);
    b.mean[c] = m;
    b.var += ss;
  }
  b.var /= total;
}

// Cut point of a box along channel c: the t (lo < t < hi, pixels below t and
// at or above t both present) that maximises (below / above) * (mean -
// mean below)^2, which is the between-halves variance up to a constant. The
// search runs from midway between the low bound and the mean to midway
// between the mean and the high bound; should that range hold no valid cut,
// the whole box is searched. Returns 0 when the box cannot be cut along c.
int FindCut(const Box& b, int c) {
  const int lo = b.lo[c], hi = b.hi[c];
  if (hi - lo < 2) return 0;
  const double mean = b.mean[c];
  const double total = double(b.count);
  auto search = [&](int first, int last) {
    // Running sums over [lo, t): cells below first - 1 up front, then cell
    // t - 1 as each t is tested.
    double nb = 0, sb = 0;
    for (int v = lo; v < first - 1; ++v) {
      nb += double(b.marg[c][v]);
      sb += double(v) * double(b.marg[c][v]);
    }
    int best = 0;
    double best_score = -1;
    for (int t = first; t <= last; ++t) {
      nb += double(b.marg[c][t - 1]);
      sb += double(t - 1) * double(b.marg[c][t - 1]);
      double na = total - nb;
      if (nb <= 0 || na <= 0) continue;
      double d = mean - sb / nb;
      double score = nb / na * d * d;
      if (score > best_score) {
        best_score = score;
        best = t;
      }
    }
    return best;
  };
  auto range = [&](int first, int last) {
    first = std::max(first, lo + 1);
    last = std::min(last, hi - 1);
    return first > last ? 0 : search(first, last);
  };
  int first = int(std::floor((lo + mean) / 2));
  int last = int(std::ceil((mean + hi) / 2));
  int t = range(first, last);
  if (t == 0) t = range(lo + 1, hi - 1);
  return t;
}

// Splits box b along the channel whose cut leaves the smallest summed
// variance of the two halves. False when no channel can be cut.
bool SplitBox(const uint64_t* hist, const Box& b, double total, Box& lower, Box& upper) {
  bool found = false;
  double best = 0;
  Box a, u;
  for (int c = 0; c < 3; ++c) {
    int t = FindCut(b, c);
    if (t == 0) continue;
    a = b;
    u = b;
    a.hi[c] = t;
    u.lo[c] = t;
    BoxStats(hist, a, total);
    BoxStats(hist, u, total);
    if (a.count == 0 || u.count == 0) continue;
    double sum = a.var + u.var;
    if (!found || sum < best) {
      found = true;
      best = sum;
      lower = a;
      upper = u;
    }
  }
  return found;
}

uint8_t Level5To8(double mean) { return uint8_t(std::clamp<long>(std::lround(mean), 0, 31) * 8); }

}  // namespace

TMedianCutState* CreateMedianCutQuantizer(TBitmap* Bitmap, TRGB* Palette, int /*Reserved*/, int NColors) {
  auto state = std::make_unique<TMedianCutState>();
  Rows24 img(Bitmap);
  std::vector<uint64_t> hist;
  BuildHistogram(img, hist);
  const double total = double(img.Pixels());

  const int target = std::clamp(NColors, 1, 256);
  std::vector<Box> boxes;
  boxes.reserve(size_t(target));
  boxes.emplace_back();
  BoxStats(hist.data(), boxes[0], total > 0 ? total : 1);
  if (boxes[0].count == 0) return state.release();  // no pixels: no palette

  while (int(boxes.size()) < target) {
    int pick = -1;
    for (int i = 0; i < int(boxes.size()); ++i)
      if (boxes[i].splittable && (pick < 0 || boxes[i].var > boxes[pick].var)) pick = i;
    if (pick < 0) break;
    Box lower, upper;
    // A box of one occupied cell has no variance and no cut.
    if (boxes[pick].var <= 0 || !SplitBox(hist.data(), boxes[pick], total, lower, upper)) {
      boxes[pick].splittable = false;
      continue;
    }
    boxes[pick] = lower;
    boxes.push_back(upper);
  }

  for (int i = 0; i < int(boxes.size()); ++i) {
    const Box& b = boxes[i];
    if (Palette && i < NColors)
      Palette[i] = TRGB{Level5To8(b.mean[2]), Level5To8(b.mean[1]), Level5To8(b.mean[0])};
    for (int r = b.lo[0]; r < b.hi[0]; ++r)
      for (int g = b.lo[1]; g < b.hi[1]; ++g)
        std::memset(state->Map + r * 1024 + g * 32 + b.lo[2], i, size_t(b.hi[2] - b.lo[2]));
  }
  state->BoxCount = std::min<int>(int(boxes.size()), std::max(NColors, 0));
  return state.release();
}

void FreeMedianCutQuantizer(TMedianCutState* State) { delete State; }

// ---------------------------------------------------------------------------
// Neural net

int NeuralSamplingFactor(int Quality, int64_t Pixels) {
  if (Quality == -1) {
    if (Pixels < 2000) return 1;
    double f = std::round((double(Pixels) * 13 - 26000) / 148000 + 2);
    return int(std::clamp(f, 1.0, 30.0));
  }
  int q = std::clamp(Quality, 0, 100);
  return std::clamp(int((100 - q) / 100.0 * 29) + 1, 1, 30);
}

namespace {

// Learning constants of the network, in its fixed-point scales.
constexpr int kNetBiasShift = 4;   // colors are held x16 while learning
constexpr int kIntBiasShift = 16;  // frequency and bias carry 16 fraction bits
constexpr int kIntBias = 1 << kIntBiasShift;
constexpr int kGammaShift = 10;
constexpr int kBetaShift = 10;
constexpr int kBeta = kIntBias >> kBetaShift;  // 1/1024 of the unit frequency
constexpr int kBetaGamma = kIntBias << (kGammaShift - kBetaShift);
constexpr int kCycles = 100;  // learning rate and radius shrink 100 times
constexpr int kRadiusBiasShift = 6;
constexpr int kRadiusBias = 1 << kRadiusBiasShift;
constexpr int kRadiusDec = 30;
constexpr int kAlphaBiasShift = 10;
constexpr int kInitAlpha = 1 << kAlphaBiasShift;
constexpr int kRadBiasShift = 8;
constexpr int kRadBias = 1 << kRadBiasShift;
constexpr int kAlphaRadBias = 1 << (kAlphaBiasShift + kRadBiasShift);

// Learning state; discarded once the palette and search index are built.
struct Learner {
  int n;
  std::vector<int32_t> b, g, r;  // neuron colors x16
  std::vector<int32_t> freq;
  // 64-bit: the nearest neuron loses 65536 per win, so 32768 wins of one
  // neuron would overflow 32 bits.
  std::vector<int64_t> bias;
  std::vector<int32_t> radpower;

  explicit Learner(int count) : n(count), b(n), g(n), r(n), freq(n), bias(n) {
    for (int i = 0; i < n; ++i) {
      int32_t v = int32_t((int64_t(i) << (kNetBiasShift + 8)) / n);
      b[i] = g[i] = r[i] = v;
      freq[i] = kIntBias / n;
      bias[i] = 0;
    }
    radpower.assign(size_t(std::max(1, n >> 3)), 0);
  }

  void SetRadPower(int rad, int alpha) {
    for (int i = 0; i < rad; ++i)
      radpower[i] = int32_t(int64_t(alpha) *
                            (((int64_t(rad) * rad - int64_t(i) * i) * kRadBias) / (int64_t(rad) * rad)));
  }

  // Finds the neuron nearest to the sample and the one nearest after the
  // frequency bias, updates frequencies and biases, and returns the biased
  // winner. The bias lets rarely winning neurons take part.
  int Contest(int32_t sb, int32_t sg, int32_t sr) {
    int32_t bestd = INT32_MAX;
    int64_t bestbiasd = INT64_MAX;
    int bestpos = 0, bestbiaspos = 0;
    for (int i = 0; i < n; ++i) {
      int32_t dist = std::abs(b[i] - sb) + std::abs(g[i] - sg) + std::abs(r[i] - sr);
      if (dist < bestd) {
        bestd = dist;
        bestpos = i;
      }
      int64_t biasdist = dist - (bias[i] >> (kIntBiasShift - kNetBiasShift));
      if (biasdist < bestbiasd) {
        bestbiasd = biasdist;
        bestbiaspos = i;
      }
      int32_t betafreq = freq[i] >> kBetaShift;
      freq[i] -= betafreq;
      bias[i] += int64_t(betafreq) << kGammaShift;
    }
    freq[bestpos] += kBeta;
    bias[bestpos] -= kBetaGamma;
    return bestbiaspos;
  }

  // Moves neuron i towards the sample by alpha / 1024.
  void AlterSingle(int alpha, int i, int32_t sb, int32_t sg, int32_t sr) {
    b[i] -= (alpha * (b[i] - sb)) / kInitAlpha;
    g[i] -= (alpha * (g[i] - sg)) / kInitAlpha;
    r[i] -= (alpha * (r[i] - sr)) / kInitAlpha;
  }

  // Moves the neighbours of neuron i within rad towards the sample, the k-th
  // neighbour on each side by radpower[k] / 2^18.
  void AlterNeighbours(int rad, int i, int32_t sb, int32_t sg, int32_t sr) {
    int lo = std::max(i - rad, -1);
    int hi = std::min(i + rad, n);
    int j = i + 1, k = i - 1, m = 1;
    auto move = [&](int p, int64_t a) {
      b[p] -= int32_t((a * (b[p] - sb)) / kAlphaRadBias);
      g[p] -= int32_t((a * (g[p] - sg)) / kAlphaRadBias);
      r[p] -= int32_t((a * (r[p] - sr)) / kAlphaRadBias);
    };
    while (j < hi || k > lo) {
      int64_t a = radpower[m++];
      if (j < hi) move(j++, a);
      if (k > lo) move(k--, a);
    }
  }

  void Learn(const Rows24& img, int factor) {
    const int64_t pixels = img.Pixels();
    if (pixels <= 0) return;
    const int w = img.Width();
    const int alphadec = 30 + (factor - 1) / 3;
    const int64_t samples = pixels / factor;
    int64_t delta = samples / kCycles;
    if (delta == 0) delta = 1;
    int alpha = kInitAlpha;
    int radius = (n >> 3) * kRadiusBias;
    int rad = radius >> kRadiusBiasShift;
    if (rad <= 1) rad = 0;
    SetRadPower(rad, alpha);

    // A prime stride that does not divide the pixel count visits the image
    // evenly instead of along its rows.
    int64_t step;
    if (pixels % 499 != 0)
      step = 499;
    else if (pixels % 491 != 0)
      step = 491;
    else if (pixels % 487 != 0)
      step = 487;
    else
      step = 503;
    step %= pixels;

    int64_t pos = 0;
    for (int64_t i = 0; i < samples;) {
      const TRGB& p = img.Row(int(pos / w))[pos % w];
      int32_t sb = int32_t(p.b) << kNetBiasShift;
      int32_t sg = int32_t(p.g) << kNetBiasShift;
      int32_t sr = int32_t(p.r) << kNetBiasShift;
      int j = Contest(sb, sg, sr);
      AlterSingle(alpha, j, sb, sg, sr);
      if (rad) AlterNeighbours(rad, j, sb, sg, sr);
      pos += step;
      if (pos >= pixels) pos -= pixels;
      ++i;
      if (i % delta == 0) {
        alpha -= alpha / alphadec;
        radius -= radius / kRadiusDec;
        rad = radius >> kRadiusBiasShift;
        if (rad <= 1) rad = 0;
        SetRadPower(rad, alpha);
      }
    }
  }
};

}  // namespace

TNeuralQuantState::TNeuralQuantState(TBitmap* Bitmap, TRGB* Palette, int NColors, int SamplingFactor) {
  const int n = std::max(NColors, 1);
  Rows24 img(Bitmap);
  Learner net(n);
  net.Learn(img, std::clamp(SamplingFactor, 1, 30));

  net_.resize(size_t(n));
  auto unbias = [](int32_t v) { return std::clamp<int32_t>(v >> kNetBiasShift, 0, 255); };
  for (int i = 0; i < n; ++i) {
    net_[i] = Neuron{unbias(net.b[i]), unbias(net.g[i]), unbias(net.r[i]), i};
    if (Palette) Palette[i] = TRGB{uint8_t(net_[i].b), uint8_t(net_[i].g), uint8_t(net_[i].r)};
  }

  // Sort by green and index the first neuron of each green value (midway
  // between the runs of neighbouring values), where searches start.
  std::stable_sort(net_.begin(), net_.end(), [](const Neuron& a, const Neuron& b) { return a.g < b.g; });
  int previous = 0, start = 0;
  const int maxpos = n - 1;
  for (int i = 0; i < n; ++i) {
    int gv = net_[i].g;
    if (gv != previous) {
      netindex_[previous] = (start + i) >> 1;
      for (int j = previous + 1; j < gv; ++j) netindex_[j] = i;
      previous = gv;
      start = i;
    }
  }
  netindex_[previous] = (start + maxpos) >> 1;
  for (int j = previous + 1; j < 256; ++j) netindex_[j] = maxpos;
}

int TNeuralQuantState::FindIndex(const TRGB& c) const {
  const int n = int(net_.size());
  int bestd = 1000;  // above any L1 distance of 8-bit colors
  int best = 0;
  int i = netindex_[c.g];
  int j = i - 1;
  // Walk outwards from the start in both directions until the green
  // difference alone exceeds the best full distance.
  while (i < n || j >= 0) {
    if (i < n) {
      const Neuron& p = net_[i];
      int dist = p.g - c.g;
      if (dist >= bestd) {
        i = n;
      } else {
        ++i;
        dist = std::abs(dist) + std::abs(p.b - c.b);
        if (dist < bestd) {
          dist += std::abs(p.r - c.r);
          if (dist < bestd) {
            bestd = dist;
            best = p.index;
          }
        }
      }
    }
    if (j >= 0) {
      const Neuron& p = net_[j];
      int dist = c.g - p.g;
      if (dist >= bestd) {
        j = -1;
      } else {
        --j;
        dist = std::abs(dist) + std::abs(p.b - c.b);
        if (dist < bestd) {
          dist += std::abs(p.r - c.r);
          if (dist < bestd) {
            bestd = dist;
            best = p.index;
          }
        }
      }
    }
  }
  return best;
}

// ---------------------------------------------------------------------------

TKVQuantizer::TKVQuantizer(TBitmap* Bitmap, TRGB* Palette, int Reserved, int NColors, int Quality,
                           int /*Method*/)
    : ncolors_(NColors) {
  if (NColors <= 256) {
    method_ = 1;
    mc_ = CreateMedianCutQuantizer(Bitmap, Palette, Reserved, NColors);
  } else {
    method_ = 0;
    int64_t pixels = Bitmap ? int64_t(Bitmap->Width()) * Bitmap->Height() : 0;
    nn_ =
        std::make_unique<TNeuralQuantState>(Bitmap, Palette, NColors, NeuralSamplingFactor(Quality, pixels));
  }
}

TKVQuantizer::~TKVQuantizer() { FreeMedianCutQuantizer(mc_); }

int TKVQuantizer::ColorsMade() const { return method_ == 1 ? mc_->BoxCount : ncolors_; }

}  // namespace korvane
