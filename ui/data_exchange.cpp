#include "ui/data_exchange.h"

#include <vector>

void DDX_Radio(DataExchange& exchange, int firstId, int& index)
{
    const std::vector<int> group = DialogRadioGroup(exchange.window, firstId);
    if (exchange.fromControls) {
        index = -1;
        for (size_t position = 0; position < group.size(); ++position) {
            if (IsDialogButtonChecked(exchange.window, group[position])) {
                index = int(position);
                break;
            }
        }
        return;
    }
    for (size_t position = 0; position < group.size(); ++position)
        CheckDialogButton(exchange.window, group[position],
                          index >= 0 && size_t(index) == position);
}

void DDX_Text(DataExchange& exchange, int id, std::string& text)
{
    if (exchange.fromControls)
        text = DialogItemText(exchange.window, id);
    else
        SetDialogItemText(exchange.window, id, text);
}

void DDX_Check(DataExchange& exchange, int id, int& state)
{
    if (exchange.fromControls)
        state = IsDialogButtonChecked(exchange.window, id) ? 1 : 0;
    else
        CheckDialogButton(exchange.window, id, state == 1);
}
