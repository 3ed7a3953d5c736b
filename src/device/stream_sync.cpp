#include "device/stream_sync.h"

#include "device/command.h"
#include "device/frame_reader.h"
#include "platform/clock.h"
#include "platform/stop_signal.h"

sync_result synchronise(unsigned char* payload) {
    int type = 1;
    int accepted = 0;
    for (int attempts_left = sync_attempts; attempts_left > 0; --attempts_left) {
        if (stop_requested() != 0) return sync_result::interrupted;
        if (read_frame(payload, type) == 1) {
            // The nudge goes out at the tenth frame even if that frame is
            // itself of type 0.
            if (++accepted == sync_nudge_at) {
                sendcmd(cmd_72, 1, 8);
                sleep_ms(200);
            }
            if (type == 0) return sync_result::reached;
        } else {
            sleep_ms(10);
        }
    }
    return sync_result::gave_up;
}
