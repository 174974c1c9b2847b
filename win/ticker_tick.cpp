#include "ticker_tick.h"

#include <string.h>

#include "buffer_sizes.h"
#include "run_state.h"
#include "status_box.h"
#include "ticker.h"

namespace {
char ticker_work[TICKER_WORK_SIZE];
}

void ticker_tick(HWND dialog, WPARAM timer_id)
{
    if (static_cast<int32_t>(LOWORD(timer_id)) != run_state.ticker_timer ||
        !run_state.ticker_start || !run_state.ticker_pos)
        return;
    memset(ticker_work, 0, sizeof ticker_work);
    ticker_compose(run_state.ticker_start, run_state.ticker_pos, ticker_work, sizeof ticker_work);
    SetWindowTextA(static_cast<HWND>(run_state.status_box), ticker_work);
    run_state.ticker_pos = ticker_advance(run_state.ticker_start, run_state.ticker_pos);
    park_focus(dialog);
}
