# End-to-end cases of the cloud answers: fcitx asks the loopback server
# (vetra_cloud_server, its address, host names and test key through the
# cloud's environment overrides) and shows what it answers. "nihao" is an
# input the kernel asks about (so is its prefix "niha"); the server holds each
# answer 1.5 s, so the list is seen before and after it arrives. Needs the
# built system data, as the input method's own cases.
if(NOT ime_data)
  return()
endif()
set(server "$<TARGET_FILE:vetra_cloud_server>")
set(answer_wait sleep 4000)  # both answers ("niha", then "nihao") have come

# An answer that is not in the list stands second (flag 1) and the highlight
# stays on the first; paging away and back keeps it there.
vetra_e2e(CloudAnswerAtSecondPlace
  RUN ${ime_run} --server "${server} --delay 1500 --word nihao=尼豪"
  DRIVE ${typing} type nihao cands mark ${answer_wait} cands
        expect-at 1 @1 0 expect-at 2 尼豪 1 expect-at 3 @2 0
        key = key - cands expect-at 2 尼豪 1 key space expect-commit-cand 1)
# Chosen with "2" it is committed and learned: after a restart it comes first.
vetra_e2e(CloudAnswerChosenIsLearned
  RUN ${ime_run} --server "${server} --delay 1500 --word nihao=尼豪"
  DRIVE ${typing} type nihao ${answer_wait} cands expect-at 2 尼豪 1 key 2 expect-commit 尼豪
        --restart ${again} type nihao cands expect-first 尼豪)
# An answer equal to the third candidate takes its place; nothing moves.
vetra_e2e(CloudAnswerReplacesItsTwin
  RUN ${ime_run} --server "${server} --delay 1500 --word nihao=你"
  DRIVE ${typing} type nihao cands mark expect-at 3 你 0 ${answer_wait} cands
        expect-at 1 @1 0 expect-at 2 @2 0 expect-at 3 你 1 expect-at 4 @4 0 expect-at 5 @5 0)
# Answers that come after a reset or after the next key are never shown, and
# the wake-up byte of a dropped answer does not leave fcitx spinning.
vetra_e2e(CloudLateAnswersAreDropped
  RUN ${ime_run} --server "${server} --delay 1500 --word nihao=尼豪 --word niha=尼哈"
  DRIVE ${typing} type nihao reset ${answer_wait} cpu-idle 2000 100
        type nihao key m ${answer_wait} cands expect-no-cloud cpu-idle 2000 100)
# Broken replies (HTTP errors, bad framing, bad seals, bad records) show
# nothing and keys go on being answered.
set(retype)
foreach(i RANGE 1 13)
  list(APPEND retype key BackSpace type o)
endforeach()
vetra_e2e(CloudBrokenRepliesShowNothing
  RUN ${ime_run} --server "${server} --malformed" --expect-server "^ANSWER\t[0-9]+\tword-128"
  DRIVE ${typing} type nihao ${retype} sleep 1000 cands expect-no-cloud expect-first 你好 key space expect-commit 你好)
# Without a gateway the cloud is off: the server hears nothing.
vetra_e2e(CloudOffWithoutGateway
  RUN ${ime_run} --server "${server} --no-gateway --word nihao=尼豪" --expect-no-server "^REQUEST"
  DRIVE ${typing} type nihao sleep 1000 cands expect-no-cloud)
# Fast keys: while the first request is answered, only the newest of those
# queued behind it is sent.
vetra_e2e(CloudOnlyTheNewestRequestIsSent
  RUN ${ime_run} --server "${server} --delay 2000"
      --expect-server "^REQUEST\t1\tniha\t" --expect-server "^REQUEST\t2\tnihao\t" --expect-no-server "^REQUEST\t3"
  DRIVE --settle 5 ${typing} type nihao key BackSpace type o key BackSpace type o sleep 5000)
