// The album list: the records of the albums read from the site, in list order.
// An album's index in this list is its identity everywhere (grid item data,
// thumbnail file numbers, naming escapes).
//
// Thread use: the list thread adds, the run thread reads, the GUI thread rebuilds
// the view from it. Every access goes through the list's own lock and hands out
// copies, so no caller ever holds a pointer into it.
#pragma once

#include <QString>
#include <QVector>
#include <cstdint>
#include <mutex>

struct ST_PERLISTRECORD {
    QString strName;      // album name, cleaned and unique within the list
    QString strUrl;       // album address, for a board ".../boards/<id>/"
    QString strCoverUrl;  // cover picture (thumbnail source); for a board, its first pin's
    QString strSpare1;
    QString strSpare2;
    uint32_t nPicCount = 0; // pictures the site reports; 0xFFFFFFFF unknown
    uint32_t nFlags = 0;    // bit0 password, bit1 private, bit2 friends; bit31: numeric code
    uint32_t nNum1 = 0;     // naming escape "?4"
    uint32_t nNum2 = 0;     // naming escape "?5"
    int32_t nIndex = 0;     // position in the list
    int32_t nImage = -1;    // thumbnail image index, -1 until one is made
};

inline constexpr uint32_t PICCOUNT_UNKNOWN = 0xFFFFFFFFu;

class AlbumList {
public:
    // Appends a copy (the caller has cleaned and de-duplicated the name) and answers
    // the new number of albums.
    uint32_t append(const ST_PERLISTRECORD &record);
    // Answers whether any album has exactly this name (case-sensitive).
    bool containsName(const QString &name) const;
    int count() const;
    ST_PERLISTRECORD at(int index) const; // a default record when out of range
    void setName(int index, const QString &name);
    void setImage(int index, int32_t image);
    void clear();

    // Albums chosen for the current run (naming escape "?6").
    void setChosen(int n);
    int chosen() const;

private:
    mutable std::mutex m_mutex;
    QVector<ST_PERLISTRECORD> m_records;
    int m_chosen = 0;
};

// Most pictures one album collects. A site that keeps inventing pins (a hostile or broken
// listing) would otherwise grow the lists without bound.
inline constexpr int MAX_PICTURES_PER_ALBUM = 200000;
