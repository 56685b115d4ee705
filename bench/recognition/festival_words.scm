;; Festival helpers for the benchmark corpora: save-words writes an utterance's Word relation as
;; `word start end punctuation phones` lines.
(define (word-phones w)
  (let ((phones ""))
    (mapcar (lambda (syl)
              (mapcar (lambda (seg) (set! phones (string-append phones (if (string-equal phones "") "" "+")
                                                                 (item.name seg))))
                      (item.daughters syl)))
            (item.daughters (item.relation w 'SylStructure)))
    phones))
(define (token-of w) (item.parent (item.relation w 'Token)))
(define (save-words utt file)
  (let ((fd (fopen file "w")))
    (mapcar
     (lambda (w)
       (format fd "%s %f %f %s %s\n" (item.name w) (item.feat w "word_start") (item.feat w "word_end")
               (if (and (item.next w) (equal? (token-of w) (token-of (item.next w))))
                   "0"
                   (item.feat w "R:Token.parent.punc"))
               (word-phones w)))
     (utt.relation.items utt 'Word))
    (fclose fd)))
