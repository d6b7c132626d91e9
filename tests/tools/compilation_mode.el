;; Reads a file of compiler messages in compilation mode and prints one
;; line per entry found: "TYPE LINE COLUMN FILE | TEXT" (TYPE 2 error,
;; 1 warning, 0 information; COLUMN nil where the message names none; TEXT
;; the line the entry starts on).
;;   emacs --batch -Q -l compilation_mode.el MESSAGES
(require 'compile)
(let ((file (car command-line-args-left)))
  (with-temp-buffer
    (let ((coding-system-for-read 'utf-8)) (insert-file-contents file))
    (compilation-mode)
    (if (fboundp 'compilation--ensure-parse)
        (compilation--ensure-parse (point-max))
      (font-lock-ensure))
    (let ((pos (point-min)))
      (while pos
        (let ((msg (get-text-property pos 'compilation-message)))
          (when msg
            (let ((loc (compilation--message->loc msg)))
              (princ (format "%s %s %s %s | %s\n" (compilation--message->type msg) (cadr loc) (car loc)
                             (caar (nth 2 loc))
                             (save-excursion (goto-char pos)
                                             (buffer-substring pos (line-end-position))))))))
        (setq pos (next-single-property-change pos 'compilation-message))))))
