#pragma once

#include <map>
#include <string>
#include <utility>

namespace gridmorph {

// Profile values held in memory, keyed by section and entry. Used by the headless
// platform and by the test fake; the application keeps its profile in QSettings.
class CProfileStore {
public:
    int GetInt(const std::string& strSection, const std::string& strEntry, int nDefault) const
    {
        auto it = m_aValues.find({strSection, strEntry});
        if (it == m_aValues.end())
            return nDefault;
        try {
            return std::stoi(it->second);
        } catch (...) {
            return nDefault;
        }
    }
    std::string GetString(const std::string& strSection, const std::string& strEntry,
                          const std::string& strDefault) const
    {
        auto it = m_aValues.find({strSection, strEntry});
        return it == m_aValues.end() ? strDefault : it->second;
    }
    void Write(const std::string& strSection, const std::string& strEntry, std::string strValue)
    {
        m_aValues[{strSection, strEntry}] = std::move(strValue);
    }
    bool Has(const std::string& strSection, const std::string& strEntry) const
    {
        return m_aValues.count({strSection, strEntry}) != 0;
    }

private:
    std::map<std::pair<std::string, std::string>, std::string> m_aValues;
};

}  // namespace gridmorph
