#include "core/AlbumList.h"

uint32_t AlbumList::append(const ST_PERLISTRECORD &record)
{
    std::lock_guard lock(m_mutex);
    m_records.append(record);
    return uint32_t(m_records.size());
}

bool AlbumList::containsName(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    for (const auto &r : m_records)
        if (r.strName == name)
            return true;
    return false;
}

int AlbumList::count() const
{
    std::lock_guard lock(m_mutex);
    return int(m_records.size());
}

ST_PERLISTRECORD AlbumList::at(int index) const
{
    std::lock_guard lock(m_mutex);
    if (index < 0 || index >= m_records.size())
        return {};
    return m_records[index];
}

void AlbumList::setName(int index, const QString &name)
{
    std::lock_guard lock(m_mutex);
    if (index >= 0 && index < m_records.size())
        m_records[index].strName = name;
}

void AlbumList::setImage(int index, int32_t image)
{
    std::lock_guard lock(m_mutex);
    if (index >= 0 && index < m_records.size())
        m_records[index].nImage = image;
}

void AlbumList::clear()
{
    std::lock_guard lock(m_mutex);
    m_records.clear();
    m_chosen = 0;
}

void AlbumList::setChosen(int n)
{
    std::lock_guard lock(m_mutex);
    m_chosen = n;
}

int AlbumList::chosen() const
{
    std::lock_guard lock(m_mutex);
    return m_chosen;
}
