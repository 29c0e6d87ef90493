// The per-sample arithmetic of G.723 at 24 kbit/s: prediction, quantisation,
// reconstruction and the adaptation of the state, in the fixed-point forms of
// the reference code.
#include "CG723Codec.h"

#include <cstdlib>

namespace vyrdax {

namespace {

constexpr int16_t kPower2[15] = {1,     2,     4,     8,     0x10,   0x20,   0x40,  0x80,
                                 0x100, 0x200, 0x400, 0x800, 0x1000, 0x2000, 0x4000};

// Quantiser decision levels and the tables indexed by the 3-bit code.
constexpr int16_t kQuantiserTable[3] = {8, 218, 331};
constexpr int16_t kLogDifferenceTable[8] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
constexpr int16_t kScaleFactorTable[8] = {-128, 960, 4384, 18624, 18624, 4384, 960, -128};
constexpr int16_t kSpeedTable[8] = {0, 0x200, 0x400, 0xE00, 0xE00, 0x400, 0x200, 0};

int Quan(int value, const int16_t* table, int size)
{
    int i = 0;
    for (; i < size; ++i)
        if (value < table[i])
            break;
    return i;
}

// Multiplies a predictor coefficient by a value in the state's floating form.
int FloatMultiply(int an, int srn)
{
    const int16_t anmag = static_cast<int16_t>(an > 0 ? an : ((-an) & 0x1FFF));
    const int16_t anexp = static_cast<int16_t>(Quan(anmag, kPower2, 15) - 6);
    const int16_t anmant = static_cast<int16_t>(anmag == 0 ? 32 : anexp >= 0 ? anmag >> anexp : anmag << -anexp);
    const int16_t wanexp = static_cast<int16_t>(anexp + ((srn >> 6) & 0xF) - 13);
    const int16_t wanmant = static_cast<int16_t>((anmant * (srn & 077) + 0x30) >> 4);
    const int16_t product =
        static_cast<int16_t>(wanexp >= 0 ? ((wanmant << wanexp) & 0x7FFF) : (wanmant >> -wanexp));
    return ((an ^ srn) < 0) ? -product : product;
}

int PredictorZero(const CG723Codec::State& s)
{
    int sezi = FloatMultiply(s.b[0] >> 2, s.dq[0]);
    for (int i = 1; i < 6; ++i)
        sezi += FloatMultiply(s.b[i] >> 2, s.dq[i]);
    return sezi;
}

int PredictorPole(const CG723Codec::State& s)
{
    return FloatMultiply(s.a[1] >> 2, s.sr[1]) + FloatMultiply(s.a[0] >> 2, s.sr[0]);
}

int StepSize(const CG723Codec::State& s)
{
    if (s.ap >= 256)
        return s.yu;
    int y = s.yl >> 6;
    const int dif = s.yu - y;
    const int al = s.ap >> 2;
    if (dif > 0)
        y += (dif * al) >> 6;
    else if (dif < 0)
        y += (dif * al + 0x3F) >> 6;
    return y;
}

int Quantize(int d, int y, const int16_t* table, int size)
{
    const int16_t dqm = static_cast<int16_t>(std::abs(d));
    const int16_t exp = static_cast<int16_t>(Quan(dqm >> 1, kPower2, 15));
    const int16_t mant = static_cast<int16_t>(((dqm << 7) >> exp) & 0x7F);
    const int16_t dl = static_cast<int16_t>((exp << 7) + mant);
    const int16_t dln = static_cast<int16_t>(dl - (y >> 2));
    const int i = Quan(dln, table, size);
    if (d < 0)
        return (size << 1) + 1 - i;
    if (i == 0)
        return (size << 1) + 1;
    return i;
}

int Reconstruct(int sign, int dqln, int y)
{
    const int16_t dql = static_cast<int16_t>(dqln + (y >> 2));
    if (dql < 0)
        return sign ? -0x8000 : 0;
    const int16_t dex = static_cast<int16_t>((dql >> 7) & 15);
    const int16_t dqt = static_cast<int16_t>(128 + (dql & 127));
    const int16_t dq = static_cast<int16_t>((dqt << 7) >> (14 - dex));
    return sign ? dq - 0x8000 : dq;
}

int16_t ToFloatForm(int magnitude, bool negative)
{
    const int exp = Quan(magnitude, kPower2, 15);
    return static_cast<int16_t>((exp << 6) + ((magnitude << 6) >> exp) - (negative ? 0x400 : 0));
}

void Update(int y, int wi, int fi, int dq, int sr, int dqsez, CG723Codec::State& s)
{
    const int16_t pk0 = dqsez < 0 ? 1 : 0;
    const int16_t mag = static_cast<int16_t>(dq & 0x7FFF);

    // A tone (modem signal) resets the predictors.
    const int16_t ylint = static_cast<int16_t>(s.yl >> 15);
    const int16_t ylfrac = static_cast<int16_t>((s.yl >> 10) & 0x1F);
    const int16_t thr1 = static_cast<int16_t>((32 + ylfrac) << ylint);
    const int16_t thr2 = static_cast<int16_t>(ylint > 9 ? 31 << 10 : thr1);
    const int16_t dqthr = static_cast<int16_t>((thr2 + (thr2 >> 1)) >> 1);
    const bool tone = s.td != 0 && mag > dqthr;

    s.yu = static_cast<int16_t>(y + ((wi - y) >> 5));
    if (s.yu < 544)
        s.yu = 544;
    else if (s.yu > 5120)
        s.yu = 5120;
    s.yl += s.yu + ((-s.yl) >> 6);

    int16_t a2p = 0;
    if (tone) {
        s.a[0] = s.a[1] = 0;
        for (int16_t& b : s.b)
            b = 0;
    } else {
        const int16_t pks1 = static_cast<int16_t>(pk0 ^ s.pk[0]);
        a2p = static_cast<int16_t>(s.a[1] - (s.a[1] >> 7));
        if (dqsez != 0) {
            const int16_t fa1 = static_cast<int16_t>(pks1 ? s.a[0] : -s.a[0]);
            if (fa1 < -8191)
                a2p = static_cast<int16_t>(a2p - 0x100);
            else if (fa1 > 8191)
                a2p = static_cast<int16_t>(a2p + 0xFF);
            else
                a2p = static_cast<int16_t>(a2p + (fa1 >> 5));
            if (pk0 ^ s.pk[1]) {
                if (a2p <= -12160)
                    a2p = -12288;
                else if (a2p >= 12416)
                    a2p = 12288;
                else
                    a2p = static_cast<int16_t>(a2p - 0x80);
            } else if (a2p <= -12416) {
                a2p = -12288;
            } else if (a2p >= 12160) {
                a2p = 12288;
            } else {
                a2p = static_cast<int16_t>(a2p + 0x80);
            }
        }
        s.a[1] = a2p;

        s.a[0] = static_cast<int16_t>(s.a[0] - (s.a[0] >> 8));
        if (dqsez != 0)
            s.a[0] = static_cast<int16_t>(pks1 == 0 ? s.a[0] + 192 : s.a[0] - 192);
        const int16_t a1ul = static_cast<int16_t>(15360 - a2p);
        if (s.a[0] < -a1ul)
            s.a[0] = static_cast<int16_t>(-a1ul);
        else if (s.a[0] > a1ul)
            s.a[0] = a1ul;

        for (int k = 0; k < 6; ++k) {
            s.b[k] = static_cast<int16_t>(s.b[k] - (s.b[k] >> 8));
            if (dq & 0x7FFF)
                s.b[k] = static_cast<int16_t>((dq ^ s.dq[k]) >= 0 ? s.b[k] + 128 : s.b[k] - 128);
        }
    }

    for (int k = 5; k > 0; --k)
        s.dq[k] = s.dq[k - 1];
    if (mag == 0)
        s.dq[0] = static_cast<int16_t>(dq >= 0 ? 0x20 : 0xFC20);
    else
        s.dq[0] = ToFloatForm(mag, dq < 0);

    s.sr[1] = s.sr[0];
    if (sr == 0)
        s.sr[0] = 0x20;
    else if (sr > 0)
        s.sr[0] = ToFloatForm(sr, false);
    else if (sr > -32768)
        s.sr[0] = ToFloatForm(static_cast<int16_t>(-sr), true);
    else
        s.sr[0] = static_cast<int16_t>(0xFC20);

    s.pk[1] = s.pk[0];
    s.pk[0] = pk0;

    if (tone)
        s.td = 0;
    else
        s.td = a2p < -11776 ? 1 : 0;

    s.dms = static_cast<int16_t>(s.dms + ((fi - s.dms) >> 5));
    s.dml = static_cast<int16_t>(s.dml + (((fi << 2) - s.dml) >> 7));

    if (tone)
        s.ap = 256;
    else if (y < 1536 || s.td == 1 || std::abs((s.dms << 2) - s.dml) >= (s.dml >> 3))
        s.ap = static_cast<int16_t>(s.ap + ((0x200 - s.ap) >> 4));
    else
        s.ap = static_cast<int16_t>(s.ap + ((-s.ap) >> 4));
}

} // namespace

CG723Codec::State CG723Codec::InitialState()
{
    State s{};
    s.yl = 34816;
    s.yu = 544;
    for (int16_t& v : s.sr)
        v = 32;
    for (int16_t& v : s.dq)
        v = 32;
    return s;
}

int CG723Codec::EncodeSample(int linear, State& s)
{
    const int sl = linear >> 2; // 14-bit range
    const int16_t sezi = static_cast<int16_t>(PredictorZero(s));
    const int16_t sez = static_cast<int16_t>(sezi >> 1);
    const int16_t sei = static_cast<int16_t>(sezi + PredictorPole(s));
    const int16_t se = static_cast<int16_t>(sei >> 1);
    const int16_t d = static_cast<int16_t>(sl - se);
    const int16_t y = static_cast<int16_t>(StepSize(s));
    const int16_t code = static_cast<int16_t>(Quantize(d, y, kQuantiserTable, 3));
    const int16_t dq = static_cast<int16_t>(Reconstruct(code & 4, kLogDifferenceTable[code], y));
    const int16_t sr = static_cast<int16_t>(dq < 0 ? se - (dq & 0x3FFF) : se + dq);
    const int16_t dqsez = static_cast<int16_t>(sr + sez - se);
    Update(y, kScaleFactorTable[code], kSpeedTable[code], dq, sr, dqsez, s);
    return code;
}

int CG723Codec::DecodeSample(int code, State& s)
{
    code &= 7;
    const int16_t sezi = static_cast<int16_t>(PredictorZero(s));
    const int16_t sez = static_cast<int16_t>(sezi >> 1);
    const int16_t sei = static_cast<int16_t>(sezi + PredictorPole(s));
    const int16_t se = static_cast<int16_t>(sei >> 1);
    const int16_t y = static_cast<int16_t>(StepSize(s));
    const int16_t dq = static_cast<int16_t>(Reconstruct(code & 4, kLogDifferenceTable[code], y));
    const int16_t sr = static_cast<int16_t>(dq < 0 ? se - (dq & 0x3FFF) : se + dq);
    const int16_t dqsez = static_cast<int16_t>(sr - se + sez);
    Update(y, kScaleFactorTable[code], kSpeedTable[code], dq, sr, dqsez, s);
    return sr * 4; // back to 16-bit range
}

} // namespace vyrdax
