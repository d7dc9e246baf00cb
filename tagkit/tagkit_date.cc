// The release date: a year frame ("%04d") and a date frame ("%02d%02d", day
// first) of the ID3v2 tag, or 1 January of the ID3v1 year.
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "tagkit.h"
#include "tagkit_frame_edit.h"
#include "tagkit_internal.h"
#include "tlx_id3.h"
#include "xdate.h"

namespace {

// The leading decimal number of a frame's text, wcstol-style (leading white
// space and a sign allowed, 0 without digits), clamped so that later range
// checks see out-of-range values as such.
long LeadingNumber(const std::wstring& text) {
  long value = std::wcstol(text.c_str(), nullptr, 10);
  if (value > 1000000L) return 1000000L;
  if (value < -1000000L) return -1000000L;
  return value;
}

}  // namespace

HRESULT CTagkit::GetDate(std::int32_t id, double& value) {
  if (id != PROPID_RELEASE_DATE) return E_TAG_UNSUPPORTED;
  if (m_releasedDateTime == TAGKIT_NO_DATE) return E_TAG_NO_VALUE;
  value = m_releasedDateTime;
  return S_OK;
}

HRESULT CTagkit::PutDate(std::int32_t id, double& value) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    if (id != PROPID_RELEASE_DATE) return E_TAG_UNSUPPORTED;
    return PutReleasedDateTime(value);
  });
}

HRESULT CTagkit::GetDateInternal(std::int32_t id, double& value) {
  if (id != PROPID_RELEASE_DATE) return E_TAG_UNSUPPORTED;
  HRESULT hr = GetReleasedDateTime();
  value = m_releasedDateTime;
  return hr;
}

HRESULT CTagkit::GetReleasedDateTime() {
  std::uint32_t yearId = 0, dateId = 0, timeId = 0;
  HRESULT hr = MakeReleasedDateTimeFrame(yearId, dateId, timeId);
  if (FAILED(hr)) return hr;

  long year = 0, month = 1, day = 1;
  bool found = false;
  std::wstring text;
  if (SUCCEEDED(GetV2Data2(yearId, text))) {
    found = true;
    year = LeadingNumber(text);
  }
  text.clear();
  if (SUCCEEDED(GetV2Data2(dateId, text))) {
    found = true;
    long n = LeadingNumber(text);
    // "0512" is 5 December (DDMM); "1225" cannot be, so it is MMDD.
    if (n % 100 < 13) {
      day = n / 100;
      month = n % 100;
    } else {
      month = n / 100;
      day = n % 100;
    }
  }
  if (!found) {
    std::int32_t v1Year = 0;
    if (tlx_id3_v1_get_year(Context(), &v1Year) != TLX_ID3_OK || v1Year == 0) {
      return E_TAG_NO_VALUE;
    }
    year = v1Year;
    month = 1;
    day = 1;
  }

  if (year < 0 || year > 9999 || month < 0 || month > 12 || day < 0 || day > 31) return E_FAIL;
  double value = 0;
  if (!CXDate::FromDateParts(static_cast<std::uint16_t>(year), static_cast<std::uint16_t>(month),
                             static_cast<std::uint16_t>(day), 0, 0, 0, value)) {
    return E_FAIL;
  }
  m_releasedDateTime = year < 1000 ? TAGKIT_NO_DATE : value;
  return S_OK;
}

HRESULT CTagkit::PutReleasedDateTime(const double& value) {
  if (!m_isOpen) return E_UNEXPECTED;
  std::uint32_t yearId = 0, dateId = 0, timeId = 0;
  HRESULT hr = MakeReleasedDateTimeFrame(yearId, dateId, timeId);
  if (FAILED(hr)) return hr;

  if (value == TAGKIT_NO_DATE) {
    hr = V2EditBegin();
    if (FAILED(hr)) return hr;
    DeleteReleasedDateTime();
    return S_OK;
  }

  // Checked before the transaction begins: a refused value changes nothing,
  // not even through the commit that an open transaction would bring.
  std::int32_t year = 0, month = 1, day = 1;
  char yearText[16] = "";
  char dateText[16] = "";
  if (CXDate::GetYear(value, year)) std::snprintf(yearText, sizeof yearText, "%04d", year);
  if (CXDate::GetMonth(value, month) && CXDate::GetDay(value, day)) {
    std::snprintf(dateText, sizeof dateText, "%02d%02d", day, month);
  }
  double midnight = 0;
  if (!CXDate::FromDateParts(static_cast<std::uint16_t>(year), static_cast<std::uint16_t>(month),
                             static_cast<std::uint16_t>(day), 0, 0, 0, midnight)) {
    return E_FAIL;
  }
  if (year < 1000) return E_FAIL;

  hr = V2EditBegin();
  if (FAILED(hr)) return hr;
  DeleteReleasedDateTime();
  hr = SetV2Data(yearId, std::wstring(yearText, yearText + std::strlen(yearText)), false);
  if (FAILED(hr)) return hr;
  m_v1Year = static_cast<std::uint32_t>(year);
  m_v1YearPending = true;
  hr = SetV2Data(dateId, std::wstring(dateText, dateText + std::strlen(dateText)), false);
  if (FAILED(hr)) return hr;
  m_releasedDateTime = midnight;
  return S_OK;
}

HRESULT CTagkit::DeleteReleasedDateTime() {
  HRESULT hr = V2EditBegin();
  if (FAILED(hr)) return hr;
  std::uint32_t yearId = 0, dateId = 0, timeId = 0;
  hr = MakeReleasedDateTimeFrame(yearId, dateId, timeId);
  if (FAILED(hr)) return hr;
  // Every year and date frame goes, also those a PutDate of this transaction
  // added and duplicates of the stored tag; a missing frame is no failure.
  // The time-of-day frame is left alone.
  hr = tagkit_frames::RemoveAllFrames(Context(), yearId);
  if (FAILED(hr)) return hr;
  hr = tagkit_frames::RemoveAllFrames(Context(), dateId);
  if (FAILED(hr)) return hr;
  m_v1Year = 0;
  m_v1YearPending = true;
  m_releasedDateTime = TAGKIT_NO_DATE;
  return S_OK;
}
