#pragma once
// Catalog records for the benchmark programs, made as a catalog run over a
// scan archive makes them: the wells one after another (in folder order, so
// API values arrive unsorted), each with one to six log images, their curve
// mnemonics and the paths of the image and of the LIC file. The same seed
// gives the same records on every platform.

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace vevura::bench {

//! The eight values the catalog run sets; an empty string stays null.
struct TCatalogValues {
  std::string Api;
  double Tli = 0;
  double Bli = 0;
  std::string Measure;
  std::string IndexUom;
  std::string LogMnems;
  std::string TiffFileName;
  std::string LicFileName;
};

//! splitmix64: small, fast and the same on every platform.
class TRandom {
 public:
  explicit TRandom(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  //! A number in [0, bound).
  uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }

 private:
  uint64_t state_;
};

template <size_t N>
const char* Pick(TRandom& random, const char* const (&list)[N]) {
  return list[random.Below(N)];
}

inline std::string Digits(uint32_t value, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*u", width, value);
  return text;
}

//! The well a run of log images belongs to.
struct TWell {
  std::string Api;     //!< the WELL value of its LIC files
  std::string Folder;  //!< where its scans lie
  int Logs = 0;        //!< images still to come
};

//! Records as a catalog run over a scan archive makes them: the wells one
//! after another (in folder order, so API values arrive unsorted), each with
//! one to six log images.
class TCatalogGenerator {
 public:
  explicit TCatalogGenerator(uint64_t seed) : random_(seed) {}

  void Next(TCatalogValues* values) {
    if (well_.Logs == 0) BeginWell();
    --well_.Logs;
    ++log_number_;
    values->Api = well_.Api;
    values->LogMnems = Pick(random_, kGroups);
    // Depth types and units: mostly measured depth in feet, a few unset.
    const uint32_t measure = random_.Below(100);
    // (Cleared and appended: g++ 12 at -O3 takes assigning these short
    // texts for an overlapping copy.)
    values->Measure.clear();
    values->Measure.append(measure < 80 ? "MD" : measure < 92 ? "TVD" : "");
    const uint32_t unit = random_.Below(100);
    values->IndexUom.clear();
    values->IndexUom.append(unit < 85 ? "F" : unit < 95 ? "M" : "");
    values->Tli = random_.Below(16000) * 0.5;
    values->Bli = values->Tli + 200 + random_.Below(11600) * 0.5;
    std::string stem = well_.Folder + "/" + ApiDigits() + "_" +
                       values->LogMnems.substr(0, values->LogMnems.find(' ')) + "_" +
                       std::to_string(log_number_);
    values->TiffFileName = stem + ".tif";
    values->LicFileName = stem + ".LIC";
  }

 private:
  static constexpr const char* kStates[] = {"42", "35", "17", "30", "49", "33", "15", "05"};
  static constexpr const char* kStateNames[] = {"TX", "OK", "LA", "NM", "WY", "ND", "KS", "CO"};
  static constexpr const char* kCounties[] = {
      "Andrews", "Ector", "Midland", "Reeves", "Winkler", "Crane",  "Pecos",  "Ward",
      "Loving",  "Upton", "Gaines",  "Howard", "Martin",  "Borden", "Dawson", "Scurry"};
  static constexpr const char* kLeases[] = {"Smith Ranch", "Brunson",  "State",      "Federal",
                                            "McElroy",     "Yates",    "University", "Wasson",
                                            "Dollarhide",  "Spraberry"};
  static constexpr const char* kGroups[] = {
      "GR SP ILD", "GR CALI RHOB NPHI", "DT GR", "SP SN ILD", "CBL VDL GR CCL", "MLL ML",
      "GR NEU",    "LLD LLS MSFL",      "TEMP",  "DIPMETER"};

  void BeginWell() {
    const uint32_t state = random_.Below(8);
    const uint32_t county = random_.Below(16);
    well_.Api = MakeApi(state);
    well_.Folder = std::string("/srv/welllogs/") + kStateNames[state] + "/" + kCounties[county] +
                   "/batch_" + Digits(2015 + random_.Below(10), 4) + "_" +
                   Digits(1 + random_.Below(12), 2);
    well_.Logs = 1 + static_cast<int>(random_.Below(6));
  }

  //! A US API number in one of the spellings found in LIC files, or now and
  //! then a lease name and well number.
  std::string MakeApi(uint32_t state) {
    const std::string s = kStates[state];
    const std::string c = Digits(1 + 2 * random_.Below(254), 3);  // counties have odd codes
    const std::string u = Digits(random_.Below(100000), 5);
    const uint32_t spelling = random_.Below(100);
    if (spelling < 45) return s + "-" + c + "-" + u;
    if (spelling < 70) return s + "-" + c + "-" + u + "-" + Digits(random_.Below(4), 2) + "-00";
    if (spelling < 90) return s + c + u + Digits(random_.Below(4), 2) + "00";
    std::string name = std::string(Pick(random_, kLeases)) + " " +
                       std::to_string(1 + random_.Below(40)) + "-" +
                       std::to_string(1 + random_.Below(9));
    if (random_.Below(2) == 0) {
      for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    return name.substr(0, 18);
  }

  //! The well's API as a file name part: its letters and digits.
  std::string ApiDigits() const {
    std::string out;
    for (char ch : well_.Api) {
      if (std::isalnum(static_cast<unsigned char>(ch))) out += ch;
    }
    return out;
  }

  TRandom random_;
  TWell well_;
  int64_t log_number_ = 0;
};

}  // namespace vevura::bench
