// Writes a synthetic NMEA 0183 log: one GGA and one RMC sentence per second for N epochs, a track
// wandering around a start point, with optional time gaps every G epochs.
//   gen_nmea OUT N [GAP_EVERY GAP_SECONDS]
// One million epochs (about 144 MB) is the reference workload of the benchmarks.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int Checksum(const char* s) {
    int x = 0;
    for (const char* p = s + 1; *p; ++p) x ^= static_cast<unsigned char>(*p);
    return x;
}

void Emit(FILE* f, const char* body) { std::fprintf(f, "%s*%02X\r\n", body, Checksum(body)); }

void DegMin(double deg, int degWidth, char* out, size_t n) {
    const double a = std::fabs(deg);
    int d = static_cast<int>(a);
    double m = (a - d) * 60.0;
    if (m >= 59.99995) {
        m = 0;
        ++d;
    }
    std::snprintf(out, n, "%0*d%07.4f", degWidth, d, m);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: gen_nmea OUT N [GAP_EVERY GAP_SECONDS]\n");
        return 2;
    }
    FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    const long long n = std::atoll(argv[2]);
    const long long gapEvery = argc > 3 ? std::atoll(argv[3]) : 0;
    const long long gapSeconds = argc > 4 ? std::atoll(argv[4]) : 0;
    double lat = 35.6812, lon = 139.7671, alt = 40.0;
    long long t = 0;  // seconds since 2026-01-01 00:00:00
    char body[256], la[32], lo[32];
    for (long long i = 0; i < n; ++i) {
        if (gapEvery > 0 && i > 0 && i % gapEvery == 0) t += gapSeconds;
        const double heading = 0.001 * static_cast<double>(i);
        lat += 1.0e-5 * std::cos(heading);
        lon += 1.2e-5 * std::sin(heading);
        alt = 40.0 + 10.0 * std::sin(heading * 0.1);
        const long long day = t / 86400, sod = t % 86400;
        const int hh = static_cast<int>(sod / 3600), mm = static_cast<int>(sod / 60 % 60),
                  ss = static_cast<int>(sod % 60);
        // Calendar date from day number since 2026-01-01 (enough for a few years).
        int y = 2026, doy = static_cast<int>(day);
        auto leap = [](int yr) { return (yr % 4 == 0 && yr % 100 != 0) || yr % 400 == 0; };
        while (doy >= (leap(y) ? 366 : 365)) doy -= leap(y++) ? 366 : 365;
        static const int md[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        int mon = 0;
        while (doy >= md[mon] + (mon == 1 && leap(y))) doy -= md[mon] + (mon == 1 && leap(y)), ++mon;
        DegMin(lat, 2, la, sizeof la);
        DegMin(lon, 3, lo, sizeof lo);
        std::snprintf(body, sizeof body, "$GPGGA,%02d%02d%02d.000,%s,%c,%s,%c,1,08,0.9,%.1f,M,39.5,M,,", hh, mm, ss, la,
                      lat >= 0 ? 'N' : 'S', lo, lon >= 0 ? 'E' : 'W', alt);
        Emit(f, body);
        std::snprintf(body, sizeof body, "$GPRMC,%02d%02d%02d.000,A,%s,%c,%s,%c,2.7,%.1f,%02d%02d%02d,,,A", hh, mm, ss,
                      la, lat >= 0 ? 'N' : 'S', lo, lon >= 0 ? 'E' : 'W', std::fmod(heading * 57.29578, 360.0), doy + 1,
                      mon + 1, y % 100);
        Emit(f, body);
        ++t;
    }
    return std::fclose(f) == 0 ? 0 : 1;
}
