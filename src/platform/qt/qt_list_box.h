#pragma once

#include "platform/list_box.h"

class QListView;

namespace tamberly {

class ProxyListModel;

/// The proxy list box over a QListView showing a ProxyListModel.
class QtListBox final : public ListBox {
public:
    QtListBox(QListView& view, ProxyListModel& model) : m_view(view), m_model(model) {}

    void AddItem(const std::string& text) override;
    void AddItems(const std::vector<std::string>& rows) override;
    void AddItemViews(const std::vector<std::string_view>& rows) override;
    void Clear() override;
    int ListIndex() const override;
    int ListCount() const override;
    std::string List(int i) const override;

private:
    QListView& m_view;
    ProxyListModel& m_model;
};

} // namespace tamberly
