\ir kesmark_a.sql
